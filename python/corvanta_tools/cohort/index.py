"""Indexing annotated notes: their mentions, with the patient and date of
each note, into a DuckDB file or a Parquet directory."""
from __future__ import annotations

import os
from collections.abc import Iterable, Mapping

from corvanta_tools.cohort.store import is_parquet_index, write_duckdb, write_parquet
from corvanta_tools.cohort.tables import mention_batches
from corvanta_tools.patients import NoteRow
from corvanta_tools.records import Document
from corvanta_tools.releases import Release

__all__ = ["index_documents"]


def index_documents(target: str | os.PathLike[str], documents: Iterable[Document],
                    release: Release, rows: Mapping[str, NoteRow] | None = None,
                    parquet: bool | None = None) -> int:
    """Adds the documents' mentions to the index at `target` (a Parquet
    directory when `parquet`, by default when `target` is a directory or ends
    in a separator; else a DuckDB file), with the assertion status their
    records carry (none: only the library's negation). `rows` (keyed by
    document id) gives each note's patient and date; without it each note is
    its own patient. Returns the number of mentions added."""
    batches = mention_batches(documents, rows)
    if parquet if parquet is not None else is_parquet_index(target):
        return write_parquet(target, release, batches)
    return write_duckdb(target, release, batches)

"""Annotation on Dask: a bag of notes or a column of a DataFrame.

Each worker process builds one matcher, on its first task, from the release
path; only the path travels with the tasks. The release must therefore be
readable at that same path on every worker: a shared file system, a path
baked into the worker image, or (on a local cluster) simply the local file.
Without a path, every worker uses the release embedded in the
package it has installed. The threads of a worker share its matcher.
"""
from __future__ import annotations

from collections.abc import Iterable
from typing import TYPE_CHECKING

import dask.bag
from dask.delayed import delayed

from corvanta_tools.accuracy.profiles import check_profile
from corvanta_tools.assessment import DEFAULT_ASSERTION, assessed_all, check_assertion
from corvanta_tools.records import Document, annotate
from corvanta_tools.registry import matcher_and_release
from corvanta_tools.scale.items import Note, note_id_and_text
from corvanta_tools.scale.rows import hit_frame, present_text

if TYPE_CHECKING:
    import dask.dataframe
    import pandas  # type: ignore[import-untyped]

__all__ = ["annotate_bag", "annotate_dataframe"]


def _bag_partition(notes: Iterable[Note], partition: int, release_path: str | None,
                   longest: bool, assertion: str, profile: str = "exact") -> list[dict[str, object]]:
    matcher, release = matcher_and_release(release_path)
    documents = (annotate(matcher, *note_id_and_text(note, f"{partition}:{position}"), longest,
                          release, "library", profile) for position, note in enumerate(notes))
    return [r.as_json() for document in assessed_all(documents, assertion)
            for r in document.records]


def annotate_bag(bag: dask.bag.Bag, release_path: str | None = None, longest: bool = False,
                 assertion: str = DEFAULT_ASSERTION, profile: str = "exact") -> dask.bag.Bag:
    """A bag of one dict per hit (`Record.as_json()`: the objects of
    `corvanta annotate --format jsonl`), in the order of the notes.

    `bag` holds notes: texts, or mappings with "text" and "id" (a bare text
    gets the id "PARTITION:POSITION"). `release_path` is the path of the release file
    as every worker sees it; None is the release embedded in the package.
    `assertion` and `profile` are those of `corvanta_tools.records.annotate`."""
    check_assertion(assertion)
    check_profile(profile)
    partitions = bag.to_delayed()  # type: ignore[no-untyped-call]
    parts = [delayed(_bag_partition)(part, k, release_path, longest, assertion, profile)
             for k, part in enumerate(partitions)]
    annotated: dask.bag.Bag = dask.bag.from_delayed(parts)  # type: ignore[no-untyped-call]
    return annotated


def _frame_documents(frame: pandas.DataFrame, text_column: str, id_column: str | None,
                     release_path: str | None, longest: bool, profile: str) -> Iterable[Document]:
    matcher, release = matcher_and_release(release_path)
    ids = frame[id_column] if id_column is not None else frame.index
    for note_id, text in zip(ids, frame[text_column]):
        yield annotate(matcher, str(note_id), present_text(text), longest, release, "library",
                       profile)


def _frame_partition(frame: pandas.DataFrame, text_column: str, id_column: str | None,
                     release_path: str | None, longest: bool, assertion: str,
                     profile: str = "exact") -> pandas.DataFrame:
    documents = _frame_documents(frame, text_column, id_column, release_path, longest, profile)
    return hit_frame(assessed_all(documents, assertion), frame.index)


def annotate_dataframe(ddf: dask.dataframe.DataFrame, text_column: str, release_path: str | None = None,
                       id_column: str | None = None, longest: bool = False,
                       assertion: str = DEFAULT_ASSERTION,
                       profile: str = "exact") -> dask.dataframe.DataFrame:
    """A DataFrame of one row per hit (columns and types:
    `corvanta_tools.scale.rows`), in the order of the notes.

    Each row keeps the index value of its note's row, so the partitions and
    divisions of `ddf` carry over and `ddf.join(hits)` puts notes and hits
    side by side. `document` is the note's `id_column` value as a string, or
    its index value without one. A missing text (None, NaN) has no hits.
    `release_path` is the path of the release file as every worker sees it; None is
    the release embedded in the package. `assertion` and `profile` are those
    of `corvanta_tools.records.annotate`."""
    import pandas

    check_assertion(assertion)
    check_profile(profile)
    meta = hit_frame([], pandas.Index([], dtype=ddf.index.dtype, name=ddf.index.name))
    hits: dask.dataframe.DataFrame = ddf.map_partitions(  # type: ignore[no-untyped-call]
        _frame_partition, text_column, id_column, release_path, longest, assertion, profile, meta=meta)
    return hits

"""Where a phenotype index lives: one DuckDB file, or a directory of Parquet
files (`mentions/` a directory of parts, the release's tables one file each),
which DuckDB and Spark both read.

Indexing into an existing index appends its mentions; the release's tables
are written once, with the index, and an index refuses mentions found with
another release. Each run is all or nothing: one transaction in DuckDB, one
new part file (renamed into place when complete) in Parquet.
"""
from __future__ import annotations

import os
import uuid
from collections.abc import Callable, Iterable
from pathlib import Path
from typing import TYPE_CHECKING

from corvanta_tools.cohort.summary import derive_summary
from corvanta_tools.cohort.tables import (closure_table, mention_schema, release_table,
                                          replacement_table, term_table)
from corvanta_tools.hierarchy import Hierarchy
from corvanta_tools.releases import Release

if TYPE_CHECKING:
    import duckdb
    import pyarrow  # type: ignore[import-untyped, unused-ignore]

__all__ = ["CohortError", "check_release", "connect", "indexed_version", "is_parquet_index",
           "write_duckdb", "write_parquet", "write_release_parquet"]

RELEASE_TABLES = ("terms", "replacements", "is_a_closure", "release")


class CohortError(ValueError):
    """The index cannot take these mentions (another release), or is no index."""


def _release_tables(release: Release) -> dict[str, Callable[[], pyarrow.Table]]:
    return {"terms": lambda: term_table(release),
            "replacements": lambda: replacement_table(release),
            "is_a_closure": lambda: closure_table(Hierarchy.of(release)),
            "release": lambda: release_table(release)}


def is_parquet_index(path: str | os.PathLike[str]) -> bool:
    """Whether `path` names a directory index (one that exists, or a path ending in a separator)."""
    text = os.fspath(path)
    return os.path.isdir(text) or text.endswith(("/", os.sep))


def indexed_version(path: str | os.PathLike[str]) -> str | None:
    """The release version of an existing index; None when there is none yet."""
    import duckdb

    if is_parquet_index(path):
        table = Path(path, "release.parquet")
        if not table.exists():
            return None
        import pyarrow.parquet  # type: ignore[import-untyped, unused-ignore]

        return str(pyarrow.parquet.read_table(table)["version"][0])
    if not os.path.exists(path):
        return None
    try:
        with duckdb.connect(os.fspath(path), read_only=True) as connection:
            row = connection.execute("SELECT version FROM release").fetchone()
    except duckdb.Error as error:
        raise CohortError(f"{os.fspath(path)} is not a phenotype index: {error}") from None
    return None if row is None else str(row[0])


def check_release(path: str | os.PathLike[str], version: str) -> None:
    """Raises CohortError when the index at `path` holds another release's mentions."""
    found = indexed_version(path)
    if found is not None and found != version:
        raise CohortError(f"{os.fspath(path)} indexes HPO release {found}, not {version}: index "
                          f"with --release {found} or into a new index")


def write_duckdb(path: str | os.PathLike[str], release: Release,
                 batches: Iterable[pyarrow.RecordBatch]) -> int:
    """Appends the mentions to the DuckDB index at `path` (created with the
    release's tables when new); returns the number of mentions added."""
    import duckdb
    import pyarrow  # type: ignore[import-untyped, unused-ignore]

    check_release(path, release.version)
    added = 0
    with duckdb.connect(os.fspath(path)) as connection:
        connection.execute("BEGIN TRANSACTION")
        if not connection.execute("SELECT 1 FROM information_schema.tables "
                                  "WHERE table_name = 'release'").fetchall():
            for name, table in _release_tables(release).items():
                connection.from_arrow(table()).create(name)
            connection.from_arrow(mention_schema().empty_table()).create("mentions")
        for batch in batches:
            connection.from_arrow(pyarrow.Table.from_batches([batch])).insert_into("mentions")
            added += batch.num_rows
        derive_summary(connection)
        connection.execute("COMMIT")
    return added


def write_release_parquet(directory: str | os.PathLike[str], release: Release) -> None:
    """The release's tables in `directory`, unless it has them already (of
    the same release: another raises CohortError)."""
    import pyarrow.parquet  # type: ignore[import-untyped, unused-ignore]

    check_release(Path(directory, ""), release.version)
    Path(directory).mkdir(parents=True, exist_ok=True)
    if Path(directory, "release.parquet").exists():
        return
    for name, table in _release_tables(release).items():
        pyarrow.parquet.write_table(table(), Path(directory, f"{name}.parquet"))


def write_parquet(directory: str | os.PathLike[str], release: Release,
                  batches: Iterable[pyarrow.RecordBatch]) -> int:
    """Adds one part file of mentions to the Parquet index in `directory`
    (created with the release's tables when new); returns the number of
    mentions added."""
    import pyarrow.parquet  # type: ignore[import-untyped, unused-ignore]

    write_release_parquet(directory, release)
    parts = Path(directory, "mentions")
    parts.mkdir(exist_ok=True)
    name = f"part-{uuid.uuid4().hex}.parquet"
    partial = parts / f".{name}.partial"
    added = 0
    try:
        with pyarrow.parquet.ParquetWriter(partial, mention_schema()) as writer:
            for batch in batches:
                writer.write_batch(batch)
                added += batch.num_rows
        os.replace(partial, parts / name)
    except BaseException:
        partial.unlink(missing_ok=True)
        raise
    return added


def connect(path: str | os.PathLike[str]) -> duckdb.DuckDBPyConnection:
    """A read-only DuckDB connection with the index's tables: the DuckDB file
    itself, or views over a Parquet index's files."""
    import duckdb

    text = os.fspath(path)
    if not is_parquet_index(text):
        if not os.path.isfile(text):
            raise CohortError(f"no index at {text}")
        return duckdb.connect(text, read_only=True)
    if not Path(text, "release.parquet").exists():
        raise CohortError(f"{text} is not a phenotype index: it has no release.parquet")
    connection = duckdb.connect()
    for name in RELEASE_TABLES:
        connection.execute(f"CREATE VIEW {name} AS SELECT * FROM "
                           f"read_parquet({_literal(str(Path(text, name + '.parquet')))})")
    parts = str(Path(text, "mentions", "**", "*.parquet"))
    connection.execute(f"CREATE VIEW mentions AS SELECT * FROM read_parquet({_literal(parts)}, "
                       f"union_by_name = true)")
    derive_summary(connection, "VIEW")
    return connection


def _literal(text: str) -> str:
    return "'" + text.replace("'", "''") + "'"

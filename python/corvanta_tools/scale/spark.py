"""Annotation on Spark: a text column of a DataFrame, through `mapInPandas`.

Each Python worker builds one matcher, on its first batch, from the release
path and keeps it while Spark reuses the worker; only the path travels with
the tasks. The release must be readable by the executors: at the same path on
shared storage, or distributed with the job (`spark-submit --files hp.json`
or `SparkContext.addFile`) and named by its file name, which is then looked up
through `SparkFiles`. Without a path, every worker uses the release embedded
in the package it has installed.
"""
from __future__ import annotations

import functools
import os
from collections.abc import Iterable, Iterator
from typing import TYPE_CHECKING

from corvanta_tools.accuracy.profiles import check_profile
from corvanta_tools.assessment import DEFAULT_ASSERTION, assessed_all, check_assertion
from corvanta_tools.records import Document, annotate
from corvanta_tools.registry import matcher_and_release
from corvanta_tools.fields import spark_schema
from corvanta_tools.scale.rows import hit_frame, present_text

if TYPE_CHECKING:
    import pandas  # type: ignore[import-untyped]
    import pyspark.sql

__all__ = ["SCHEMA", "annotate_spark"]

# The Spark form of corvanta_tools.scale.rows.DTYPES.
SCHEMA = spark_schema()

_ID = "__corvanta_id"
_TEXT = "__corvanta_text"


def executor_path(release_path: str | None) -> str | None:
    """`release_path` when it exists here (None, the embedded release, too), else the
    file of that name shipped with the job."""
    if release_path is None or os.path.exists(release_path):
        return release_path
    from pyspark import SparkFiles

    return SparkFiles.get(os.path.basename(release_path))


def _documents(frame: pandas.DataFrame, release_path: str | None, longest: bool,
               profile: str) -> Iterable[Document]:
    matcher, release = matcher_and_release(executor_path(release_path))
    for note_id, text in zip(frame[_ID], frame[_TEXT]):
        yield annotate(matcher, str(note_id), present_text(text), longest, release, "library",
                       profile)


def _annotate_batches(frames: Iterator[pandas.DataFrame], release_path: str | None,
                      longest: bool, assertion: str,
                      profile: str = "exact") -> Iterator[pandas.DataFrame]:
    for frame in frames:
        yield hit_frame(assessed_all(_documents(frame, release_path, longest, profile), assertion))


def annotate_spark(df: pyspark.sql.DataFrame, text_column: str, release_path: str | None = None,
                   id_column: str | None = None, longest: bool = False,
                   assertion: str = DEFAULT_ASSERTION,
                   profile: str = "exact") -> pyspark.sql.DataFrame:
    """A DataFrame of one row per hit, with the columns of
    `corvanta_tools.scale.rows` (Spark types: SCHEMA).

    `document` is the note's `id_column` value as a string; without `id_column`,
    Spark's `monotonically_increasing_id()` of the row (unique, not
    consecutive). A null text has no hits. Within a partition, rows follow
    the notes' order. `release_path` is a path every executor reads, the file name of
    a release shipped with the job, or None for the release embedded in the
    package. `assertion` and `profile` are those of
    `corvanta_tools.records.annotate`."""
    from pyspark.sql import functions

    check_assertion(assertion)
    check_profile(profile)
    note_id = functions.col(id_column) if id_column is not None else functions.monotonically_increasing_id()
    notes = df.select(note_id.cast("string").alias(_ID), functions.col(text_column).alias(_TEXT))
    return notes.mapInPandas(
        functools.partial(_annotate_batches, release_path=release_path, longest=longest, assertion=assertion,
                          profile=profile), schema=SCHEMA)

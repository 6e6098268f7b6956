"""Patients and the phenotype index on Spark, after `annotate_spark`.

    hits = annotate_spark(notes, "text", id_column="note")
    mentions = mentions_spark(hits, notes)               # the index's mentions table
    profiles = patient_features_spark(mentions)          # one row per patient and term
    write_index_spark(mentions, "cohort/", release)      # Parquet that DuckDB reads too

`notes` names each note's patient (and optionally its date). The rules are
those of `corvanta_tools.patients`: a family member's or a hypothetical
mention is not the patient's; a term is present when an own mention is
affirmed (neither negated nor uncertain), excluded when every own mention is
negated; `onset` is the earliest date of a note affirming it.
"""
from __future__ import annotations

import os
from typing import TYPE_CHECKING

from corvanta_tools.cohort.store import write_release_parquet
from corvanta_tools.cohort.tables import MENTION_COLUMNS
from corvanta_tools.releases import Release

if TYPE_CHECKING:
    import pyspark.sql

__all__ = ["mentions_spark", "patient_features_spark", "write_index_spark"]

# The index's flag columns and the hit columns they come from (null with
# assertion="library": then only the library's negation is known).
_FLAGS = {"uncertain": "is_uncertain", "historical": "is_historical",
          "hypothetical": "is_hypothetical", "family": "is_family"}


def mentions_spark(hits: pyspark.sql.DataFrame, notes: pyspark.sql.DataFrame,
                   note_col: str = "note", patient_col: str = "patient",
                   date_col: str | None = None) -> pyspark.sql.DataFrame:
    """The rows of the index's mentions table (corvanta_tools.cohort.tables):
    `annotate_spark`'s hits joined on their document to the note's patient
    (and date) in `notes`. A hit of a note missing from `notes` is dropped."""
    from pyspark.sql import functions as F

    patients = notes.select(
        F.col(note_col).cast("string").alias("note"),
        F.col(patient_col).cast("string").alias("patient"),
        (F.col(date_col).cast("date") if date_col is not None else F.lit(None).cast("date"))
        .alias("note_date"))
    joined = hits.join(patients, hits["document"] == patients["note"])
    flags = [F.coalesce(F.col(column), F.lit(False)).alias(name) for name, column in _FLAGS.items()]
    return joined.select(
        "patient", "note", "note_date", "term_id", "label", "char_start", "char_end",
        "byte_start", "byte_end", "text", "excluded",
        F.coalesce(F.col("is_negated"), F.col("excluded")).alias("negated"), *flags,
    ).select(*MENTION_COLUMNS)


def patient_features_spark(mentions: pyspark.sql.DataFrame) -> pyspark.sql.DataFrame:
    """One row per patient and term of their profile: patient, term_id,
    excluded, onset (null without dates), mentions (all of the term's,
    relatives' included), notes (those with an own mention)."""
    from pyspark.sql import functions as F

    own = ~(F.col("family") | F.col("hypothetical"))
    affirmed = own & ~F.col("negated") & ~F.col("uncertain")
    grouped = mentions.groupBy("patient", "term_id").agg(
        F.max(affirmed.cast("int")).alias("present"),
        F.sum(own.cast("int")).alias("own"),
        F.sum((own & F.col("negated")).cast("int")).alias("negated"),
        F.min(F.when(affirmed, F.col("note_date"))).alias("onset"),
        F.count(F.lit(1)).alias("mentions"),
        F.countDistinct(F.when(own, F.col("note"))).alias("notes"))
    kept = grouped.where((F.col("present") == 1) | ((F.col("own") > 0)
                                                    & (F.col("negated") == F.col("own"))))
    return kept.select("patient", "term_id", (F.col("present") == 0).alias("excluded"), "onset",
                       "mentions", "notes")


def write_index_spark(mentions: pyspark.sql.DataFrame, directory: str | os.PathLike[str],
                      release: Release, partitions: int | None = None) -> None:
    """Adds the mentions to the Parquet index in `directory` (the release's
    tables written from the driver when new): Parquet parts under
    `mentions/`, each patient's rows in one part (`partitions` of them,
    default Spark's shuffle partitions). `corvanta query DIRECTORY` and
    `spark.read.parquet(DIRECTORY + "/mentions")` read them."""
    write_release_parquet(directory, release)
    by_patient = (mentions.repartition(partitions, "patient") if partitions is not None
                  else mentions.repartition("patient"))
    by_patient.write.mode("append").parquet(os.path.join(os.fspath(directory), "mentions"))

"""Cohort queries: the patients (or notes) with every given term, or any of
its descendants, among their own affirmed mentions.

What a query asks, written over the `mentions` table (for two terms and one
excluded term; `is_a_closure` holds each term as its own descendant too):

    WITH wanted(position, term_id) AS (VALUES (0, 'HP:0001250'), (1, 'HP:0004322')),
    found AS (
        SELECT m.*, w.position FROM mentions m
        JOIN is_a_closure c ON c.descendant = m.term_id
        JOIN wanted w ON w.term_id = c.ancestor
        WHERE NOT m.negated AND NOT m.uncertain AND NOT m.family AND NOT m.hypothetical),
    excluded AS (
        SELECT DISTINCT m.patient FROM mentions m
        JOIN is_a_closure c ON c.descendant = m.term_id
        WHERE c.ancestor = 'HP:0001251'
          AND NOT m.negated AND NOT m.uncertain AND NOT m.family AND NOT m.hypothetical)
    SELECT patient, count(DISTINCT note) AS notes,
           count(DISTINCT (note, byte_start, byte_end, term_id)) AS mentions
    FROM found WHERE patient NOT IN (SELECT patient FROM excluded)
    GROUP BY patient HAVING count(DISTINCT position) = 2
    ORDER BY patient

`cohort_sql` asks the same of the compact tables of
`corvanta_tools.cohort.summary` (integer keys, one row per note, term and
status), which answers it several times faster. By note, the note takes the
place of the patient in the grouping (every term in the same note).
Widening (`include_negated`, `include_uncertain`, `include_family`) drops
that condition from `found`; `excluded` always counts only the patient's own
affirmed mentions.
"""
from __future__ import annotations

import os
from collections.abc import Sequence
from typing import TYPE_CHECKING

from corvanta_tools.cohort.store import CohortError, connect
from corvanta_tools.cohort.summary import FAMILY, HYPOTHETICAL, NEGATED, UNCERTAIN

if TYPE_CHECKING:
    import duckdb
    import pandas  # type: ignore[import-untyped]

__all__ = ["UnknownTermError", "cohort", "cohort_sql", "current_terms"]



class UnknownTermError(CohortError):
    """A queried id names no current term of the index's release."""


OWN_AFFIRMED = NEGATED | UNCERTAIN | FAMILY | HYPOTHETICAL


def current_terms(connection: duckdb.DuckDBPyConnection, terms: Sequence[str]) -> dict[str, str]:
    """Each given id mapped to the current term it names: itself, or the
    term an alternative or obsolete id leads to. An unknown id, or an
    obsolete one without a replacement, raises UnknownTermError."""
    mapped: dict[str, str] = {}
    for term in terms:
        row = connection.execute(
            "SELECT t.id, t.obsolete, r.term_id FROM (SELECT ? AS id) g "
            "LEFT JOIN terms t ON t.id = g.id LEFT JOIN replacements r ON r.id = g.id",
            [term]).fetchone()
        assert row is not None
        found, obsolete, replacement = row
        if replacement is not None:
            mapped[term] = replacement
        elif found is None:
            raise UnknownTermError(f"unknown term {term}: not in HPO release "
                                   f"{_version(connection)}")
        elif obsolete:
            raise UnknownTermError(f"{term} is obsolete in HPO release {_version(connection)} and "
                              f"names no replacement")
        else:
            mapped[term] = term
    return mapped


def _version(connection: duckdb.DuckDBPyConnection) -> str:
    row = connection.execute("SELECT version FROM release").fetchone()
    return "?" if row is None else str(row[0])


def _literals(terms: Sequence[str]) -> str:
    return ", ".join("'" + t.replace("'", "''") + "'" for t in terms)


def _keys_below(terms: str) -> str:
    """The term keys of every descendant of the terms (SQL string literals)."""
    return ("SELECT TRY_CAST(substr(descendant, 4) AS INTEGER) FROM is_a_closure "
            f"WHERE ancestor IN ({terms})")


def cohort_sql(terms: Sequence[str], exclude: Sequence[str] = (), notes: bool = False,
               include_negated: bool = False, include_uncertain: bool = False,
               include_family: bool = False) -> str:
    """The query of `cohort` for current term ids (see the module's description)."""
    if not terms:
        raise ValueError("a cohort query needs at least one term")
    terms = list(dict.fromkeys(terms))
    mask = OWN_AFFIRMED & ~((NEGATED * include_negated) | (UNCERTAIN * include_uncertain)
                            | (FAMILY * include_family))
    key = "note_key" if notes else "patient_key"
    parts = [
        "wanted_keys AS (\n    " + "\n    UNION ".join(
            f"SELECT DISTINCT {i} AS position, key FROM ({_keys_below(_literals([t]))}) k(key)"
            for i, t in enumerate(terms)) + ")",
        "found AS (\n    SELECT patient_key, note_key, term_key, mentions FROM note_terms\n"
        "    WHERE term_key IN (SELECT key FROM wanted_keys) AND status & "
        f"{mask} = 0)"]
    conditions = []
    if exclude:
        parts.append("excluded AS (\n    SELECT DISTINCT patient_key FROM note_terms\n"
                     f"    WHERE term_key IN ({_keys_below(_literals(exclude))}) "
                     f"AND status & {OWN_AFFIRMED} = 0)")
        conditions.append("patient_key NOT IN (SELECT patient_key FROM excluded)")
    if len(terms) > 1:
        parts.append(f"qualified AS (\n    SELECT f.{key} FROM (SELECT DISTINCT {key}, term_key "
                     "FROM found) f\n    JOIN wanted_keys w ON w.key = f.term_key\n"
                     f"    GROUP BY f.{key} HAVING count(DISTINCT w.position) = {len(terms)})")
        conditions.append(f"{key} IN (SELECT {key} FROM qualified)")
    where = f" WHERE {' AND '.join(conditions)}" if conditions else ""
    parts.append("per_note AS (\n    SELECT patient_key, note_key, "
                 f"sum(mentions)::BIGINT AS mentions FROM found{where}\n"
                 "    GROUP BY patient_key, note_key)")
    if notes:
        answer = ("SELECT n.note, p.patient, c.mentions FROM per_note c\n"
                  "JOIN notes n USING (note_key) JOIN patients p ON p.patient_key = c.patient_key\n"
                  "ORDER BY n.note")
    else:
        answer = ("SELECT p.patient, c.notes, c.mentions FROM (\n"
                  "    SELECT patient_key, count(*) AS notes, sum(mentions)::BIGINT AS mentions "
                  "FROM per_note GROUP BY patient_key) c\n"
                  "JOIN patients p USING (patient_key) ORDER BY p.patient")
    return "WITH " + ",\n".join(parts) + "\n" + answer


def cohort(index: str | os.PathLike[str], terms: Sequence[str], exclude: Sequence[str] = (),
           notes: bool = False, include_negated: bool = False, include_uncertain: bool = False,
           include_family: bool = False) -> pandas.DataFrame:
    """The patients of the index (a DuckDB file or a Parquet directory) with
    every term in `terms` (or a descendant) and none in `exclude`: one row per
    patient with its counts of matching notes and mentions; with `notes`, one
    row per note that has them all. `attrs["terms"]` maps each given id to
    the current term it was taken as (alternative and obsolete ids differ)."""
    with connect(index) as connection:
        mapped = current_terms(connection, [*terms, *exclude])
        wanted = list(dict.fromkeys(mapped[t] for t in terms))
        frame = connection.execute(cohort_sql(
            wanted, [mapped[t] for t in exclude], notes, include_negated, include_uncertain,
            include_family)).df()
    frame.attrs["terms"] = mapped
    return frame

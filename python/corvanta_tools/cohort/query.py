"""Cohort queries: the patients (or notes) with every given term, or any of
its descendants, among their own affirmed mentions.

The SQL, for two terms, one excluded term, by patient (what `cohort_sql`
writes; `is_a_closure` holds each term as its own descendant too):

    WITH wanted(position, term_id) AS (VALUES (0, 'HP:0001250'), (1, 'HP:0004322')),
    unwanted(term_id) AS (VALUES ('HP:0001251')),
    found AS (
        SELECT m.*, w.position FROM mentions m
        JOIN is_a_closure c ON c.descendant = m.term_id
        JOIN wanted w ON w.term_id = c.ancestor
        WHERE NOT m.negated AND NOT m.uncertain AND NOT m.family AND NOT m.hypothetical),
    excluded AS (
        SELECT DISTINCT m.patient FROM mentions m
        JOIN is_a_closure c ON c.descendant = m.term_id
        JOIN unwanted u ON u.term_id = c.ancestor
        WHERE NOT m.negated AND NOT m.uncertain AND NOT m.family AND NOT m.hypothetical)
    SELECT patient, count(DISTINCT note) AS notes,
           count(DISTINCT (note, byte_start, byte_end, term_id)) AS mentions
    FROM found WHERE patient NOT IN (SELECT patient FROM excluded)
    GROUP BY patient HAVING count(DISTINCT position) = 2
    ORDER BY patient

By note, `note, patient` take the place of `patient` in the grouping (every
term in the same note). Widening (`include_negated`, `include_uncertain`,
`include_family`) drops that condition from `found`; `excluded` always
counts only the patient's own affirmed mentions.
"""
from __future__ import annotations

import os
from collections.abc import Sequence
from typing import TYPE_CHECKING

from corvanta_tools.cohort.store import CohortError, connect

if TYPE_CHECKING:
    import duckdb
    import pandas  # type: ignore[import-untyped]

__all__ = ["UnknownTermError", "cohort", "cohort_sql", "current_terms"]



class UnknownTermError(CohortError):
    """A queried id names no current term of the index's release."""


OWN_AFFIRMED = ("NOT m.negated", "NOT m.uncertain", "NOT m.family", "NOT m.hypothetical")


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
            raise UnknownTermError(f"unknown term {term}: not in HPO release {_version(connection)}")
        elif obsolete:
            raise UnknownTermError(f"{term} is obsolete in HPO release {_version(connection)} and "
                              f"names no replacement")
        else:
            mapped[term] = term
    return mapped


def _version(connection: duckdb.DuckDBPyConnection) -> str:
    row = connection.execute("SELECT version FROM release").fetchone()
    return "?" if row is None else str(row[0])


def _values(terms: Sequence[str], positions: bool) -> str:
    literals = ["'" + t.replace("'", "''") + "'" for t in terms]
    if positions:
        return ", ".join(f"({i}, {t})" for i, t in enumerate(literals))
    return ", ".join(f"({t})" for t in literals)


def cohort_sql(terms: Sequence[str], exclude: Sequence[str] = (), notes: bool = False,
               include_negated: bool = False, include_uncertain: bool = False,
               include_family: bool = False) -> str:
    """The query of `cohort` for current term ids (see the module's description)."""
    if not terms:
        raise ValueError("a cohort query needs at least one term")
    dropped = {"NOT m.negated": include_negated, "NOT m.uncertain": include_uncertain,
               "NOT m.family": include_family}
    found_when = " AND ".join(c for c in OWN_AFFIRMED if not dropped.get(c)) or "true"
    key = "note, patient" if notes else "patient"
    excluded = ""
    where = ""
    if exclude:
        excluded = (f",\nunwanted(term_id) AS (VALUES {_values(exclude, False)}),\n"
                    "excluded AS (\n    SELECT DISTINCT m.patient FROM mentions m\n"
                    "    JOIN is_a_closure c ON c.descendant = m.term_id\n"
                    "    JOIN unwanted u ON u.term_id = c.ancestor\n"
                    f"    WHERE {' AND '.join(OWN_AFFIRMED)})")
        where = "WHERE patient NOT IN (SELECT patient FROM excluded)\n"
    return (f"WITH wanted(position, term_id) AS (VALUES {_values(terms, True)}){excluded},\n"
            "found AS (\n    SELECT m.*, w.position FROM mentions m\n"
            "    JOIN is_a_closure c ON c.descendant = m.term_id\n"
            "    JOIN wanted w ON w.term_id = c.ancestor\n"
            f"    WHERE {found_when})\n"
            f"SELECT {key}, " + ("" if notes else "count(DISTINCT note) AS notes, ") +
            "count(DISTINCT (note, byte_start, byte_end, term_id)) AS mentions\n"
            f"FROM found {where}GROUP BY {key} "
            f"HAVING count(DISTINCT position) = {len(set(terms))}\nORDER BY {key}")


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
            wanted, list(dict.fromkeys(mapped[t] for t in exclude)), notes, include_negated,
            include_uncertain, include_family)).df()
    frame.attrs["terms"] = mapped
    return frame

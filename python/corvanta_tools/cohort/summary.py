"""The compact tables cohort queries run on, derived from `mentions`:

| table        | columns                                                          |
|--------------|------------------------------------------------------------------|
| `patients`   | patient_key (integer), patient                                   |
| `notes`      | note_key (integer), note, patient_key                            |
| `note_terms` | patient_key, note_key, term_key (the HP number: 1250 for         |
|              | HP:0001250), status, mentions (how many of the note's mentions   |
|              | of the term have that status)                                    |

`status` holds the assertion as bits: 1 negated, 2 uncertain, 4 family, 8
hypothetical; 0 is the patient's own affirmed mention. Integers instead of
strings, one row per note, term and status, and rows in term order make a
query read a fraction of what the mentions take. A DuckDB index keeps them as
tables, made again after each run of indexing; over Parquet they are views.
"""
from __future__ import annotations

from typing import TYPE_CHECKING

if TYPE_CHECKING:
    import duckdb

__all__ = ["FAMILY", "HYPOTHETICAL", "NEGATED", "UNCERTAIN", "derive_summary"]

NEGATED, UNCERTAIN, FAMILY, HYPOTHETICAL = 1, 2, 4, 8

_SUMMARY = {
    "patients": "SELECT row_number() OVER (ORDER BY patient)::INTEGER AS patient_key, patient "
                "FROM (SELECT DISTINCT patient FROM mentions)",
    "notes": "SELECT row_number() OVER (ORDER BY note)::INTEGER AS note_key, note, patient_key "
             "FROM (SELECT DISTINCT note, patient FROM mentions) JOIN patients USING (patient)",
    "note_terms": f"""
        SELECT n.patient_key, n.note_key, TRY_CAST(substr(m.term_id, 4) AS INTEGER) AS term_key,
               (m.negated::UTINYINT * {NEGATED} + m.uncertain::UTINYINT * {UNCERTAIN}
                + m.family::UTINYINT * {FAMILY}
                + m.hypothetical::UTINYINT * {HYPOTHETICAL})::UTINYINT AS status,
               count(*)::INTEGER AS mentions
        FROM mentions m JOIN notes n ON n.note = m.note
        GROUP BY ALL ORDER BY term_key, n.patient_key""",
}


def derive_summary(connection: duckdb.DuckDBPyConnection, kind: str = "TABLE") -> None:
    """Creates (or replaces) the summary tables from `mentions`; `kind`
    "VIEW" makes them views instead."""
    for name, query in _SUMMARY.items():
        connection.execute(f"CREATE OR REPLACE {kind} {name} AS {query}")

"""A phenotype index of notes and the cohort queries it answers (the
`[cohort]` extra: DuckDB, pandas, pyarrow).

    index_documents("cohort.duckdb", documents, release, rows)
    cohort("cohort.duckdb", ["HP:0001250"])   # a pandas DataFrame of patients

`corvanta_tools.cohort.tables` describes the tables, `corvanta_tools.cohort.query`
the SQL behind `cohort`.
"""
from __future__ import annotations

from corvanta_tools.cohort.index import index_documents
from corvanta_tools.cohort.query import UnknownTermError, cohort, cohort_sql, current_terms
from corvanta_tools.cohort.store import CohortError, connect

__all__ = ["CohortError", "UnknownTermError", "cohort", "cohort_sql", "connect", "current_terms",
           "index_documents"]

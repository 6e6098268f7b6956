"""The record's fields, once: every shape a record takes (the TSV columns,
the JSON lines, the pandas and Spark columns, the service's models) is
derived from FIELDS, and tests/test_fields.py checks each against it.

A field's kind says how it is spelled:

- "name": a string that repeats from hit to hit (document, term, labels);
- "text": the covered text, different for nearly every hit;
- "span": a [start, end] pair, two columns `<stem>_start`, `<stem>_end` in a table;
- "flag": a boolean;
- "assertion": ConText's attributes (`corvanta_tools.records.Assertion`): a
  JSON object, omitted when absent; in a table its five flags (CATEGORIES'
  values), nullable; the TSV adds the modifiers as a JSON array.
"""
from __future__ import annotations

from typing import NamedTuple

__all__ = ["ASSERTION_COLUMNS", "CATEGORIES", "FIELDS", "FLAG_COLUMNS", "FLAG_DESCRIPTIONS", "TABLE_COLUMNS",
           "TSV_COLUMNS", "Field", "columns", "pandas_dtypes", "spark_schema"]

# ConText's categories and the attribute of the assertion each sets.
CATEGORIES = {"NEGATED_EXISTENCE": "is_negated", "POSSIBLE_EXISTENCE": "is_uncertain",
              "HISTORICAL": "is_historical", "HYPOTHETICAL": "is_hypothetical",
              "FAMILY": "is_family"}


class Field(NamedTuple):
    name: str  # the Record attribute and the JSON key
    kind: str  # "name", "text", "span", "flag" or "assertion"
    nullable: bool
    description: str


FIELDS = (
    Field("document", "name", False, "the document's id"),
    Field("term_id", "name", False, "the concept, HP:NNNNNNN"),
    Field("label", "name", False, "the label or synonym that matched"),
    Field("term_label", "name", True, "the term's official label"),
    Field("char_span", "span", True,
          "str (code point) indices of the document; null when not mappable"),
    Field("byte_span", "span", False, "UTF-8 bytes of the lower-cased document"),
    Field("excluded", "flag", False, "the mention lies in the scope of a negation"),
    Field("text", "text", False, "the text the span covers"),
    Field("assertion", "assertion", True,
          "the mention's assertion status; absent with assertion \"library\""),
)

FLAG_COLUMNS = tuple(CATEGORIES.values())
FLAG_DESCRIPTIONS = {
    "is_negated": "the mention is denied or absent",
    "is_uncertain": "the mention is possible, not asserted",
    "is_historical": "said of the patient's past",
    "is_hypothetical": "said of what may happen, not what is",
    "is_family": "said of a family member, not the patient",
}


def columns(field: Field) -> tuple[str, ...]:
    """The table columns of `field`."""
    if field.kind == "span":
        stem = field.name.removesuffix("_span")
        return (f"{stem}_start", f"{stem}_end")
    if field.kind == "assertion":
        return FLAG_COLUMNS
    return (field.name,)


TSV_COLUMNS = tuple(c for f in FIELDS if f.kind != "assertion" for c in columns(f))
# What the TSV adds for records with assertions.
ASSERTION_COLUMNS = (*FLAG_COLUMNS, "modifiers")
TABLE_COLUMNS = tuple(c for f in FIELDS for c in columns(f))


def pandas_dtypes() -> dict[str, str]:
    """The pandas dtype of each table column."""
    kinds = {"name": "string[pyarrow]", "text": "string[pyarrow]", "flag": "bool",
             "assertion": "boolean"}
    return {column: (("Int64" if f.nullable else "int64") if f.kind == "span" else kinds[f.kind])
            for f in FIELDS for column in columns(f)}


def spark_schema() -> str:
    """The table columns as a Spark DDL schema (strings are always nullable there)."""
    def spark_type(field: Field) -> str:
        if field.kind in ("name", "text"):
            return "string"
        base = "long" if field.kind == "span" else "boolean"
        return base if field.nullable else base + " not null"

    return ", ".join(f"{column} {spark_type(f)}" for f in FIELDS for column in columns(f))

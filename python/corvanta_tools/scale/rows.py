"""The table form of records, one row per hit, shared by the Dask and Spark
helpers (columns and types derived from corvanta_tools.fields).

| column      | type              | value                                              |
|-------------|-------------------|----------------------------------------------------|
| document    | string            | the note's id                                      |
| term_id     | string            | Hit.term_id, e.g. HP:0001250                       |
| label       | string            | the label or synonym that matched (Hit.label)      |
| term_label  | string, nullable  | the term's official label; null without a release  |
| char_start  | int64, nullable   | str index where the mention starts; null: unmappable |
| char_end    | int64, nullable   | str index one past its end                         |
| byte_start  | int64             | Hit.span[0]: UTF-8 bytes of the lower-cased note   |
| byte_end    | int64             | Hit.span[1]                                        |
| excluded    | bool              | Hit.excluded: in the scope of a negation           |
| text        | string            | the covered text                                   |
| is_negated, is_uncertain, is_historical, is_hypothetical, is_family | bool, nullable | the assertion's categories; null with assertion="library" |
"""
from __future__ import annotations

import math
from collections.abc import Iterable
from typing import TYPE_CHECKING

from corvanta_tools.fields import FLAG_COLUMNS, TABLE_COLUMNS, pandas_dtypes
from corvanta_tools.records import Document, Record

if TYPE_CHECKING:
    import pandas  # type: ignore[import-untyped]

__all__ = ["COLUMNS", "DTYPES", "FLAG_COLUMNS", "hit_frame", "present_text"]

COLUMNS = TABLE_COLUMNS
DTYPES = pandas_dtypes()


def hit_frame(documents: Iterable[Document], index: pandas.Index | None = None) -> pandas.DataFrame:
    """One row per record of `documents`, typed as DTYPES; with `index` (one
    value per document) each row carries its document's index value."""
    import pandas

    rows = []
    positions = []
    for position, document in enumerate(documents):
        for record in document.records:
            chars = record.char_span or (None, None)
            rows.append((record.document, record.term_id, record.label, record.term_label,
                         *chars, *record.byte_span, record.excluded, record.text,
                         *_flags(record)))
            positions.append(position)
    columns = zip(*rows) if rows else ([] for _ in COLUMNS)
    frame = pandas.DataFrame({name: pandas.array(column, dtype=DTYPES[name])
                              for name, column in zip(COLUMNS, columns)})
    if index is not None:
        frame.index = index.take(positions)
    return frame


def _flags(record: Record) -> tuple[bool | None, ...]:
    assertion = record.assertion
    if assertion is None:
        return (None,) * len(FLAG_COLUMNS)
    return tuple(getattr(assertion, column) for column in FLAG_COLUMNS)


def present_text(value: object) -> str:
    """A table cell as a note's text: a missing value (None, NaN, NA) is an
    empty note, any other value that is not a str an error."""
    import pandas

    if isinstance(value, str):
        return value
    if value is None or value is pandas.NA or (isinstance(value, float) and math.isnan(value)):
        return ""
    raise TypeError(f"a note's text must be a str, not {type(value).__name__}")

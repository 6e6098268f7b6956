"""The tables of a phenotype index, as Arrow tables: the mentions of the
notes, and what the release says of its terms.

| table          | columns                                                          |
|----------------|------------------------------------------------------------------|
| `mentions`     | patient, note, note_date, term_id, label (the surface matched),  |
|                | char_start, char_end, byte_start, byte_end, text, excluded (the  |
|                | library's flag), negated, uncertain, historical, hypothetical,   |
|                | family (the assertion status; `negated` is `Record.negated`)     |
| `terms`        | id, label, obsolete, replaced_by: every HP term of the release   |
| `replacements` | id, term_id: an alternative or obsolete id and its current term  |
| `is_a_closure` | ancestor, descendant: every pair, each term with itself included |
| `release`      | version, created_by: one row                                     |
"""
from __future__ import annotations

from collections.abc import Iterable, Iterator, Mapping
from typing import TYPE_CHECKING

from corvanta_tools.hierarchy import Hierarchy
from corvanta_tools.patients import NoteRow
from corvanta_tools.records import Document
from corvanta_tools.releases import Release
from corvanta_tools.version import package_version

if TYPE_CHECKING:
    import pyarrow  # type: ignore[import-untyped, unused-ignore]

__all__ = ["MENTION_COLUMNS", "closure_table", "mention_batches", "mention_schema",
           "release_table", "replacement_table", "term_table"]

MENTION_COLUMNS = ("patient", "note", "note_date", "term_id", "label", "char_start", "char_end",
                   "byte_start", "byte_end", "text", "excluded", "negated", "uncertain",
                   "historical", "hypothetical", "family")
ASSERTION_FLAGS = ("is_uncertain", "is_historical", "is_hypothetical", "is_family")

# Rows gathered before they become one Arrow batch.
BATCH_ROWS = 65536


def mention_schema() -> pyarrow.Schema:
    import pyarrow  # type: ignore[import-untyped, unused-ignore]

    text, flag, position = pyarrow.string(), pyarrow.bool_(), pyarrow.int64()
    return pyarrow.schema([
        ("patient", text), ("note", text), ("note_date", pyarrow.date32()), ("term_id", text),
        ("label", text), ("char_start", position), ("char_end", position),
        ("byte_start", position), ("byte_end", position), ("text", text), ("excluded", flag),
        ("negated", flag), ("uncertain", flag), ("historical", flag), ("hypothetical", flag),
        ("family", flag)])


def mention_batches(documents: Iterable[Document],
                    rows: Mapping[str, NoteRow] | None = None) -> Iterator[pyarrow.RecordBatch]:
    """The mentions of the documents in batches of about BATCH_ROWS rows; a
    note's patient and date from its map row (`rows` keyed by document id),
    without a map each note is a patient of its own."""
    import pyarrow  # type: ignore[import-untyped, unused-ignore]

    schema = mention_schema()
    columns: list[list[object]] = [[] for _ in MENTION_COLUMNS]
    (patients, notes, dates, terms, labels, char_starts, char_ends, byte_starts, byte_ends,
     texts, excluded, negated, *flags) = columns
    for document in documents:
        row = rows.get(document.id) if rows is not None else None
        patient = row.patient if row is not None else document.id
        date = row.date if row is not None else None
        for record in document.records:
            chars = record.char_span or (None, None)
            patients.append(patient)
            notes.append(document.id)
            dates.append(date)
            terms.append(record.term_id)
            labels.append(record.label)
            char_starts.append(chars[0])
            char_ends.append(chars[1])
            byte_starts.append(record.byte_span[0])
            byte_ends.append(record.byte_span[1])
            texts.append(record.text)
            excluded.append(record.excluded)
            negated.append(record.negated)
            assertion = record.assertion
            for values, name in zip(flags, ASSERTION_FLAGS):
                values.append(assertion is not None and getattr(assertion, name))
        if len(patients) >= BATCH_ROWS:
            yield pyarrow.RecordBatch.from_arrays(
                [pyarrow.array(c, type=f.type) for c, f in zip(columns, schema)], schema=schema)
            for column in columns:
                column.clear()
    if patients:
        yield pyarrow.RecordBatch.from_arrays(
            [pyarrow.array(c, type=f.type) for c, f in zip(columns, schema)], schema=schema)


def term_table(release: Release) -> pyarrow.Table:
    import pyarrow  # type: ignore[import-untyped, unused-ignore]

    terms = list(release.terms())
    return pyarrow.table({"id": [t.id for t in terms], "label": [t.label for t in terms],
                          "obsolete": [t.obsolete for t in terms],
                          "replaced_by": pyarrow.array([t.replaced_by for t in terms],
                                                       type=pyarrow.string())})


def replacement_table(release: Release) -> pyarrow.Table:
    import pyarrow  # type: ignore[import-untyped, unused-ignore]

    replacements = release.replacements()
    return pyarrow.table({"id": pyarrow.array(list(replacements), type=pyarrow.string()),
                          "term_id": pyarrow.array(list(replacements.values()),
                                                   type=pyarrow.string())})


def closure_table(hierarchy: Hierarchy) -> pyarrow.Table:
    import pyarrow  # type: ignore[import-untyped, unused-ignore]

    pairs = list(hierarchy.closure())
    return pyarrow.table({"ancestor": pyarrow.array([a for a, _ in pairs], type=pyarrow.string()),
                          "descendant": pyarrow.array([d for _, d in pairs],
                                                      type=pyarrow.string())})


def release_table(release: Release) -> pyarrow.Table:
    import pyarrow  # type: ignore[import-untyped, unused-ignore]

    return pyarrow.table({"version": [release.version],
                          "created_by": [f"corvanta {package_version()}"]})

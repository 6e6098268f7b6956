"""From notes to patients: which notes are whose (a map file), and the
phenotype profile of each patient from the mentions in all their notes.

The map is a CSV file with a header naming the columns `note` and `patient`,
and optionally `date` (ISO, such as 2024-03-01). A note matches an input by
its path as given or by its file name.

Whose a mention is, and what it says, comes from its assertion status
(`Record.assertion`; without one only the library's negation is known):

- a family member's or a hypothetical mention is not the patient's: it never
  makes a feature, and is listed as evidence only beside the patient's own;
- the patient's own mention is affirmed unless negated or uncertain (a
  historical finding is the patient's finding);
- a term is present when any own mention is affirmed, excluded when every
  own mention is negated, and left out otherwise (only uncertain mentions).
"""
from __future__ import annotations

import csv
import datetime
import os
from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass, field

from corvanta_tools.hierarchy import Hierarchy
from corvanta_tools.records import Document, Record

__all__ = ["Feature", "NoteRow", "Patient", "PatientMapError", "affirmed", "features",
           "group_by_patient", "is_own", "notes_of_inputs", "read_patient_map"]


class PatientMapError(ValueError):
    """The patient map does not parse, or does not fit the inputs; the message
    names the row or the input."""


@dataclass(frozen=True, slots=True)
class NoteRow:
    """One row of the patient map."""

    note: str
    patient: str
    date: datetime.date | None = None


def _date(text: str, where: str) -> datetime.date | None:
    if not text.strip():
        return None
    try:
        return datetime.date.fromisoformat(text.strip())
    except ValueError:
        raise PatientMapError(f"{where}: date {text!r} is not an ISO date such as "
                              "2024-03-01") from None


def read_patient_map(path: str | os.PathLike[str]) -> list[NoteRow]:
    """The rows of a patient map file (see the module's description)."""
    name = os.fspath(path)
    with open(path, newline="", encoding="utf-8-sig") as file:
        reader = csv.DictReader(file)
        missing = {"note", "patient"} - set(reader.fieldnames or ())
        if missing:
            raise PatientMapError(f"{name}: the header needs the columns note and patient "
                                  f"(missing: {', '.join(sorted(missing))})")
        rows = []
        for row in reader:
            where = f"{name}, line {reader.line_num}"
            note, patient = (row.get("note") or "").strip(), (row.get("patient") or "").strip()
            if not note or not patient:
                raise PatientMapError(f"{where}: a row needs a note and a patient")
            rows.append(NoteRow(note, patient, _date(row.get("date") or "", where)))
    return rows


def notes_of_inputs(rows: Sequence[NoteRow], inputs: Sequence[str]) -> dict[str, NoteRow]:
    """The map row of each input (path as given, else file name). An input
    that no row names, one that two rows name, and a row that names no input
    are errors."""
    by_note: dict[str, NoteRow] = {}
    for row in rows:
        if by_note.setdefault(row.note, row) is not row:
            raise PatientMapError(f"note {row.note!r} appears twice in the patient map")
    assigned: dict[str, NoteRow] = {}
    used: set[str] = set()
    for name in inputs:
        found = by_note.get(name) or by_note.get(os.path.basename(name))
        if found is None:
            raise PatientMapError(f"input {name} is not in the patient map")
        if found.note in used:
            raise PatientMapError(f"patient map note {found.note!r} matches more than one input "
                                  f"(give paths in the map)")
        used.add(found.note)
        assigned[name] = found
    unused = [row.note for row in rows if row.note not in used]
    if unused:
        raise PatientMapError(f"patient map note {unused[0]!r} matches no input"
                              + (f" (and {len(unused) - 1} more)" if len(unused) > 1 else ""))
    return assigned


@dataclass(frozen=True)
class Patient:
    """A patient's annotated notes, in the order they came, with their dates."""

    id: str
    documents: tuple[Document, ...]
    dates: Mapping[str, datetime.date | None] = field(default_factory=dict)


def group_by_patient(documents: Iterable[Document], rows: Mapping[str, NoteRow]) -> list[Patient]:
    """The documents grouped by the patient of their row (`rows` keyed by
    document id), patients in the order of their first document."""
    grouped: dict[str, list[Document]] = {}
    dates: dict[str, dict[str, datetime.date | None]] = {}
    for document in documents:
        row = rows.get(document.id)
        if row is None:
            raise PatientMapError(f"document {document.id} is not in the patient map")
        grouped.setdefault(row.patient, []).append(document)
        dates.setdefault(row.patient, {})[document.id] = row.date
    return [Patient(patient, tuple(docs), dates[patient]) for patient, docs in grouped.items()]


def is_own(record: Record) -> bool:
    """Whether the mention is about the patient (not a relative, not hypothetical)."""
    assertion = record.assertion
    return assertion is None or not (assertion.is_family or assertion.is_hypothetical)


def affirmed(record: Record) -> bool:
    """Whether the mention says the finding is there (neither negated nor uncertain)."""
    assertion = record.assertion
    return not record.negated and (assertion is None or not assertion.is_uncertain)


@dataclass(frozen=True)
class Feature:
    """One term of a patient's profile and every mention of it."""

    term_id: str
    label: str
    excluded: bool
    onset: datetime.date | None
    mentions: tuple[Record, ...]


def _feature(mentions: list[Record], dates: Mapping[str, datetime.date | None]) -> Feature | None:
    own = [m for m in mentions if is_own(m)]
    present = [m for m in own if affirmed(m)]
    if not present and not (own and all(m.negated for m in own)):
        return None
    known = [d for m in present if (d := dates.get(m.document)) is not None]
    first = mentions[0]
    return Feature(first.term_id, first.term_label or first.label, not present,
                   min(known) if known else None, tuple(mentions))


def features(patient: Patient, hierarchy: Hierarchy | None = None) -> list[Feature]:
    """The patient's profile: present terms first, then excluded ones, each
    group in the order of first mention; with a `hierarchy`, a present term
    with a present descendant is left out (the most specific terms)."""
    by_term: dict[str, list[Record]] = {}
    for document in patient.documents:
        for record in document.records:
            by_term.setdefault(record.term_id, []).append(record)
    found = [f for mentions in by_term.values() if (f := _feature(mentions, patient.dates))]
    present = [f for f in found if not f.excluded]
    if hierarchy is not None:
        kept = set(hierarchy.most_specific(f.term_id for f in present))
        present = [f for f in present if f.term_id in kept]
    return present + [f for f in found if f.excluded]

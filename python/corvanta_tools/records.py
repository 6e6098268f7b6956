"""One output record per hit (`Record`, its fields: corvanta_tools.fields),
its assertion status (`Assertion`) and the annotated document (`Document`);
`annotate` makes them. The writers are in corvanta_tools.formats."""
from __future__ import annotations

from collections.abc import Callable, Iterable, Sequence
import functools
import itertools
import operator
import sys
from dataclasses import dataclass, replace
from typing import NamedTuple, Protocol

import corvanta

from corvanta_tools.fields import CATEGORIES, FIELDS
from corvanta_tools.offsets import CharOffsets

__all__ = ["CATEGORIES", "UNMODIFIED", "Assertion", "Document", "Modifier", "ProfileHit", "Record",
           "TermLabels", "annotate", "combined", "document_of_hits", "document_of_profile_hits",
           "profile_recognition", "python_document_of_hits"]


class Modifier(NamedTuple):
    """One trigger that modifies a mention: its ConText category (such as
    "NEGATED_EXISTENCE"), its text and its str indices in the document."""

    category: str
    text: str
    char_span: tuple[int, int]


@dataclass(frozen=True)
class Assertion:
    """The ConText attributes of one mention: negated, uncertain, historical,
    hypothetical, about a family member, and the trigger phrases behind
    each. The field's standard next to the library's own `excluded` flag
    (its twelve negation phrases), which it never changes."""

    is_negated: bool = False
    is_uncertain: bool = False
    is_historical: bool = False
    is_hypothetical: bool = False
    is_family: bool = False
    modifiers: tuple[Modifier, ...] = ()

    def as_json(self) -> dict[str, object]:
        return {**{field: getattr(self, field) for field in CATEGORIES.values()},
                "modifiers": [{"category": m.category, "text": m.text,
                               "char_span": list(m.char_span)} for m in self.modifiers]}

    @property
    def flags(self) -> tuple[str, ...]:
        """The names of the attributes that are true ("negated", "uncertain",
        "historical", "hypothetical", "family"), in that order."""
        return tuple(field[3:] for field in CATEGORIES.values() if getattr(self, field))

    @property
    def triggers(self) -> str:
        """The modifiers for people: `category "text" start-end`, joined by "; "."""
        return "; ".join(f'{m.category} "{m.text}" {m.char_span[0]}-{m.char_span[1]}'
                         for m in self.modifiers)


UNMODIFIED = Assertion()


# A hit of a profile's recognition, the fields of corvanta_tools.accuracy's
# AccurateHit in its order: byte span (UTF-8 bytes of the lower-cased text, as
# Hit.span), str span (None where the bytes do not map), term id, label,
# excluded, covered text, category. Records are made from hits by unpacking
# them, at a fraction of the cost of reading seven attributes.
ProfileHit = tuple[tuple[int, int], "tuple[int, int] | None", str, str, bool, str, str]


class TermLabels(Protocol):
    """What annotation needs of a release: the official label of a term
    (corvanta_tools.releases.Release is one)."""

    def label(self, term_id: str) -> str | None: ...


class Record(NamedTuple):
    """One hit as the command line reports it. A named tuple: made for
    every hit, it costs a third of a frozen dataclass to build."""

    document: str
    term_id: str  # Hit.term_id (map_text_json's "termId")
    label: str  # the matched label-table surface, Hit.label
    term_label: str | None  # the term's official label; None when no release was given
    char_span: tuple[int, int] | None  # str indices of the document; None: not mappable
    byte_span: tuple[int, int]  # UTF-8 bytes of the lower-cased document, Hit.span ("span")
    excluded: bool  # Hit.excluded: the mention lies in the scope of a negation
    text: str  # the covered text (from the lower-cased document when char_span is None)
    assertion: Assertion | None = None  # ConText's attributes; None with assertion="library"

    @property
    def negated(self) -> bool:
        """Whether the mention counts as negated: ConText's negation when the
        record carries ConText's attributes, otherwise `excluded`."""
        return self.excluded if self.assertion is None else self.assertion.is_negated

    def as_json(self) -> dict[str, object]:
        """The record as a JSON object (fields: corvanta_tools.fields; a
        span as a list, no "assertion" key without one)."""
        fields: dict[str, object] = {}
        for field in FIELDS:
            value = getattr(self, field.name)
            if field.kind == "span" and value is not None:
                value = list(value)
            elif field.kind == "assertion":
                if value is None:
                    continue
                value = value.as_json()
            fields[field.name] = value
        return fields


@dataclass(frozen=True)
class Document:
    """An annotated document: its id, its text and the records of its hits;
    `source` is the document as an input format read it (with our
    annotations added), for writers of that format to write it back."""

    id: str
    text: str
    records: Sequence[Record]
    source: object | None = None


def combined(document_id: str, parts: Iterable[tuple[int, Document]],
             source: object | None = None) -> Document:
    """One document from the annotated passages of one (each with its
    character offset in the whole). Its text lays the passages out at their
    offsets, the gaps filled with line breaks (a passage that would overlap
    the one before follows it after one line break instead), and the
    records' spans are moved into it."""
    text: list[str] = []
    records: list[Record] = []
    chars = lowered_bytes = 0
    for offset, part in parts:
        gap = offset - chars if offset >= chars else int(chars > 0)
        chars += gap
        lowered_bytes += gap
        text.extend(("\n" * gap, part.text))
        records.extend(_moved(r, chars, lowered_bytes) for r in part.records)
        chars += len(part.text)
        lowered_bytes += len(part.text.lower().encode("utf-8"))
    return Document(document_id, "".join(text), records, source)


def _moved(record: Record, chars: int, lowered_bytes: int) -> Record:
    if chars == lowered_bytes == 0:
        return record
    span = record.char_span
    start, end = record.byte_span
    return record._replace(char_span=None if span is None else (span[0] + chars, span[1] + chars),
                   byte_span=(start + lowered_bytes, end + lowered_bytes),
                   assertion=_moved_assertion(record.assertion, chars))


def _moved_assertion(assertion: Assertion | None, chars: int) -> Assertion | None:
    """The assertion with its triggers' spans moved by `chars` characters."""
    if assertion is None or not assertion.modifiers:
        return assertion
    return replace(assertion, modifiers=tuple(
        m._replace(char_span=(m.char_span[0] + chars, m.char_span[1] + chars))
        for m in assertion.modifiers))


def annotate(matcher: corvanta.Corvanta, document: str, text: str, longest: bool = False,
             release: TermLabels | None = None, assertion: str = "context",
             profile: str = "exact") -> Document:
    """Recognizes `text` and turns its hits into records; with a `release`,
    each record carries its term's official label. `assertion` names how the
    records' assertion status is found (corvanta_tools.assessment: "context",
    the default, "medspacy" or "library" for none). `profile` "accurate"
    recognises with corvanta_tools.accuracy (from the release file of
    `release`, or the embedded release for its matcher)."""
    if profile == "exact":
        hits = matcher.map_text_longest(text) if longest else matcher.map_text(text)
        if assertion == "context":  # each record made once, with its assertion
            from corvanta_tools.context import record_assertions

            return document_of_hits(document, text, hits, release, record_assertions)
        unassessed = document_of_hits(document, text, hits, release)
    else:
        unassessed = document_of_profile_hits(document, text, profile_recognition(
            matcher, release, profile)(text, longest), release)
    if assertion == "library":
        return unassessed
    from corvanta_tools.assessment import assessed

    return assessed(unassessed, assertion)


# The assertions of a text's mentions from their str spans (None where a
# span does not map) and byte spans: corvanta_tools.context.record_assertions.
Assessor = Callable[[str, Sequence["tuple[int, int] | None"], Sequence[tuple[int, int]]],
                    Sequence[Assertion]]

_span = operator.attrgetter("span")
_term_id = operator.attrgetter("term_id")
_label = operator.attrgetter("label")
_excluded = operator.attrgetter("excluded")
# Record(...) runs a Python-level __new__; records are made from zipped
# fields by tuple's own, so that no bytecode runs per hit.
_record = functools.partial(tuple.__new__, Record)
# Hits are let go this many at a time once they are records, so that a text
# with many hits never holds both in full.
_CHUNK = 4096

try:
    from corvanta_tools._accurate import exact_records as _compiled_records
except ImportError:  # a source tree on the path without the toolkit's compiled helper
    _compiled_records = None  # type: ignore[assignment]


def document_of_hits(document: str, text: str, hits: list[corvanta.Hit],
                     release: TermLabels | None = None,
                     assessor: Assessor | None = None) -> Document:
    """The document of `text` with a record per hit of it (as `annotate`
    gives), each with the assertion `assessor` finds for it (none without);
    takes the hits out of `hits`, leaving it empty. An ASCII text's records
    are built in one compiled call where the toolkit was built
    (corvanta_tools._accurate), which also spares the garbage collector the
    records without an assertion; `python_document_of_hits` is the reference
    it equals."""
    if _compiled_records is None or not text.isascii():
        return python_document_of_hits(document, text, hits, release, assessor)
    term_labels = _TermLabelCache(release) if release is not None else None
    if assessor is None:
        return Document(document, text, _compiled_records(document, text, hits, term_labels,
                                                          Record))
    byte_spans = list(map(_span, hits))
    found = assessor(text, byte_spans, byte_spans)
    return Document(document, text, _compiled_records(document, text, hits, term_labels, Record,
                                                      found))


def python_document_of_hits(document: str, text: str, hits: list[corvanta.Hit],
                            release: TermLabels | None = None,
                            assessor: Assessor | None = None) -> Document:
    """`document_of_hits` in Python, for any text."""
    byte_spans = list(map(_span, hits))
    char_spans: Sequence[tuple[int, int] | None]
    if text.isascii():  # bytes are str indices
        char_spans = byte_spans
        covered = list(map(text.__getitem__, itertools.starmap(slice, byte_spans)))
    else:
        offsets = CharOffsets(text)
        char_spans = [span if chars == span else chars
                      for span in byte_spans for chars in (offsets.char_span(span),)]
        covered = [offsets.matched_text(span) if chars is None else text[chars[0]:chars[1]]
                   for chars, span in zip(char_spans, byte_spans)]
    found = assessor(text, char_spans, byte_spans) if assessor is not None else None
    term_labels = _TermLabelCache(release) if release is not None else None
    char_iter, byte_iter, covered_iter = iter(char_spans), iter(byte_spans), iter(covered)
    assertions = iter(found) if found is not None else itertools.repeat(None)
    records: list[Record] = []
    hits.reverse()
    while hits:
        chunk = hits[-_CHUNK:]
        del hits[-_CHUNK:]
        chunk.reverse()
        # Every Hit attribute read is a new object: records share one string
        # per distinct term id and label.
        term_ids = list(map(sys.intern, map(_term_id, chunk)))
        # zip takes its arguments' items in order and stops at the first
        # that ends: the document's, as long as the chunk.
        records.extend(map(_record, zip(
            itertools.repeat(document, len(chunk)), term_ids,
            map(sys.intern, map(_label, chunk)),
            itertools.repeat(None) if term_labels is None
            else map(term_labels.__getitem__, term_ids),
            char_iter, byte_iter, map(_excluded, chunk), covered_iter, assertions)))
    return Document(document, text, records)


def profile_recognition(matcher: corvanta.Corvanta, release: TermLabels | None,
                        profile: str) -> Callable[[str, bool], Sequence[ProfileHit]]:
    """The recognition of a profile other than exact: (text, longest) to its hits."""
    from corvanta_tools.accuracy.profiles import recogniser_for

    return recogniser_for(matcher, release, profile).hits


def document_of_profile_hits(document: str, text: str, hits: Iterable[ProfileHit],
                             release: TermLabels | None = None) -> Document:
    """`document_of_hits` for the hits of `profile_recognition`."""
    from corvanta_tools.accuracy.profile_records import profile_records

    hits = hits if isinstance(hits, (list, tuple)) else list(hits)
    return Document(document, text, profile_records(document, hits, release))


class _TermLabelCache(dict[str, "str | None"]):
    """The official label of each term asked for, looked up once per text."""

    def __init__(self, release: TermLabels | None) -> None:
        super().__init__()
        self._release = release

    def __missing__(self, term_id: str) -> str | None:
        label = self._release.label(term_id) if self._release is not None else None
        self[term_id] = label
        return label

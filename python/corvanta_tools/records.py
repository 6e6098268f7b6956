"""One output record per hit, and the line-oriented formats (TSV, JSON lines,
an aligned table for people)."""
from __future__ import annotations

import functools
import itertools
import json
from collections.abc import Callable, Iterable, Iterator, Sequence
from dataclasses import dataclass, replace
from json.encoder import encode_basestring
from typing import TYPE_CHECKING, Protocol, TextIO

import corvanta

from corvanta_tools.offsets import CharOffsets

if TYPE_CHECKING:
    from corvanta_tools.assertion import Assertion

__all__ = ["Document", "ProfileHit", "Record", "TermLabels", "annotate", "combined",
           "document_of_hits", "document_of_profile_hits", "json_line", "profile_recognition",
           "with_assessed", "write_jsonl", "write_table", "write_tsv"]


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


@dataclass(frozen=True, slots=True)
class Record:
    """One hit as the command line reports it."""

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
        return {
            "document": self.document,
            "term_id": self.term_id,
            "label": self.label,
            "term_label": self.term_label,
            "char_span": list(self.char_span) if self.char_span is not None else None,
            "byte_span": list(self.byte_span),
            "excluded": self.excluded,
            "text": self.text,
            **({"assertion": self.assertion.as_json()} if self.assertion is not None else {}),
        }


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
    return replace(record, char_span=None if span is None else (span[0] + chars, span[1] + chars),
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
        unassessed = document_of_hits(document, text, hits, release)
    else:
        unassessed = document_of_profile_hits(document, text, profile_recognition(
            matcher, release, profile)(text, longest), release)
    if assertion == "library":
        return unassessed
    from corvanta_tools.assessment import assessed

    return assessed(unassessed, assertion)


def document_of_hits(document: str, text: str, hits: list[corvanta.Hit],
                     release: TermLabels | None = None) -> Document:
    """The document of `text` with a record per hit of it (as `annotate`
    gives); takes the hits out of `hits`, leaving it empty."""
    offsets = CharOffsets(text)
    term_labels = _TermLabelCache(release)
    # Every Hit attribute read is a new object: records share one string per
    # distinct term id and label, and each hit is let go once it is a record,
    # so that a text with many hits never holds both in full.
    shared: dict[str, str] = {}
    records = []
    hits.reverse()
    while hits:
        hit = hits.pop()
        span = hit.span
        chars = offsets.char_span(span)
        term_id = hit.term_id
        term_id = shared.setdefault(term_id, term_id)
        label = hit.label
        records.append(Record(document, term_id, shared.setdefault(label, label),
                              term_labels[term_id], span if chars == span else chars, span,
                              hit.excluded, offsets.matched_text(span) if chars is None
                              else text[chars[0]:chars[1]]))
    return Document(document, text, records)


def profile_recognition(matcher: corvanta.Corvanta, release: TermLabels | None,
                        profile: str) -> Callable[[str, bool], Sequence[ProfileHit]]:
    """The recognition of a profile other than exact: (text, longest) to its hits."""
    from corvanta_tools.accuracy.profiles import check_profile, recogniser_for

    check_profile(profile)
    return recogniser_for(matcher, release).hits


def document_of_profile_hits(document: str, text: str, hits: Iterable[ProfileHit],
                             release: TermLabels | None = None) -> Document:
    """`document_of_hits` for the hits of `profile_recognition`."""
    hits = hits if isinstance(hits, (list, tuple)) else list(hits)
    label = release.label if release is not None else _no_label
    term_labels = {term_id: label(term_id) for term_id in {hit[2] for hit in hits}}
    return Document(document, text, [
        Record(document, term_id, surface, term_labels[term_id], char_span, byte_span, excluded,
               covered)
        for byte_span, char_span, term_id, surface, excluded, covered, _ in hits])


def _no_label(term_id: str) -> None:
    return None


class _TermLabelCache(dict[str, "str | None"]):
    """The official label of each term asked for, looked up once per text."""

    def __init__(self, release: TermLabels | None) -> None:
        super().__init__()
        self._release = release

    def __missing__(self, term_id: str) -> str | None:
        label = self._release.label(term_id) if self._release is not None else None
        self[term_id] = label
        return label


TSV_COLUMNS = ("document", "term_id", "label", "term_label", "char_start", "char_end",
               "byte_start", "byte_end", "excluded", "text")
ASSERTION_COLUMNS = ("is_negated", "is_uncertain", "is_historical", "is_hypothetical", "is_family",
                     "modifiers")

# Besides tab and the line breaks, every character that str.splitlines and
# other line-oriented readers take as a line end is escaped.
_TSV_ESCAPES = str.maketrans({"\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r", "\v": "\\v",
                              "\f": "\\f", "\x1c": "\\x1c", "\x1d": "\\x1d", "\x1e": "\\x1e",
                              "\x85": "\\x85", "\u2028": "\\u2028", "\u2029": "\\u2029"})
# json.dumps escapes the C0 controls; these three it leaves raw.
_JSON_LINE_ESCAPES = str.maketrans({"\x85": "\\u0085", "\u2028": "\\u2028", "\u2029": "\\u2029"})


def json_line(value: object) -> str:
    """`value` as one line of JSON: no character inside it ends a line for any reader."""
    return json.dumps(value, ensure_ascii=False).translate(_JSON_LINE_ESCAPES)


@functools.lru_cache(maxsize=65536)
def _tsv_field(value: str) -> str:
    """A field that repeats from hit to hit (document, term, labels), escaped once."""
    return value.translate(_TSV_ESCAPES)


def _tsv_row(record: Record) -> str:
    chars = record.char_span
    start, end = record.byte_span
    return "\t".join((
        _tsv_field(record.document), _tsv_field(record.term_id), _tsv_field(record.label),
        _tsv_field(record.term_label or ""),
        f"{chars[0]}\t{chars[1]}" if chars is not None else "\t", f"{start}\t{end}",
        "true" if record.excluded else "false", record.text.translate(_TSV_ESCAPES)))


def with_assessed(documents: Iterable[Document]) -> tuple[bool, Iterator[Document]]:
    """Whether the records carry ConText's attributes (judged by the first
    document with records), and the documents, all of them still to read."""
    documents = iter(documents)
    held: list[Document] = []
    for document in documents:  # up to the first document with records
        held.append(document)
        if document.records:
            break
    assessed = any(r.assertion is not None for d in held for r in d.records)
    return assessed, itertools.chain(held, documents)


def write_tsv(out: TextIO, release: str, documents: Iterable[Document]) -> None:
    """A header line, then one line per hit. Tabs, line ends and backslashes
    inside fields are written as escapes (\\t, \\n, \\r, \\v, \\f, \\x1c to
    \\x1e, \\x85, \\u2028, \\u2029, \\\\); a span
    that cannot be mapped to characters leaves char_start and char_end empty.
    Records with assertions (all but `--assertion library`) get six more
    columns: the five categories (ASSERTION_COLUMNS) and the modifiers as a
    JSON array (empty cells for a record without one)."""
    assessed, documents = with_assessed(documents)
    out.write("\t".join(TSV_COLUMNS + (ASSERTION_COLUMNS if assessed else ())) + "\n")
    row = _assessed_tsv_row if assessed else _tsv_row
    for document in documents:
        out.writelines(row(record) + "\n" for record in document.records)


def _assessed_tsv_row(record: Record) -> str:
    assertion = record.assertion
    if assertion is None:
        return _tsv_row(record) + "\t" * len(ASSERTION_COLUMNS)
    fields = assertion.as_json()
    flags = ["true" if fields[column] else "false" for column in ASSERTION_COLUMNS[:-1]]
    return "\t".join([_tsv_row(record), *flags, json_line(fields["modifiers"])])


def write_jsonl(out: TextIO, release: str, documents: Iterable[Document]) -> None:
    """One JSON object per hit and line (see Record.as_json)."""
    for document in documents:
        out.writelines(_json_record(record) + "\n" for record in document.records)


@functools.lru_cache(maxsize=65536)
def _json_string(value: str) -> str:
    return encode_basestring(value).translate(_JSON_LINE_ESCAPES)


def _json_span(span: tuple[int, int] | None) -> str:
    return "null" if span is None else f"[{span[0]}, {span[1]}]"


def _json_record(record: Record) -> str:
    """`json_line(record.as_json())`, without building the dict."""
    term_label = "null" if record.term_label is None else _json_string(record.term_label)
    text = encode_basestring(record.text).translate(_JSON_LINE_ESCAPES)
    return (f'{{"document": {_json_string(record.document)}, '
            f'"term_id": {_json_string(record.term_id)}, "label": {_json_string(record.label)}, '
            f'"term_label": {term_label}, "char_span": {_json_span(record.char_span)}, '
            f'"byte_span": {_json_span(record.byte_span)}, '
            f'"excluded": {"true" if record.excluded else "false"}, "text": {text}'
            f'{_json_assertion(record)}}}')


def _json_assertion(record: Record) -> str:
    if record.assertion is None:
        return ""
    return f', "assertion": {json_line(record.assertion.as_json())}'


def _span_text(span: tuple[int, int] | None) -> str:
    return "-" if span is None else f"{span[0]}-{span[1]}"


def write_table(out: TextIO, release: str, documents: Iterable[Document]) -> None:
    """A readable table per document, excluded (`Record.negated`) hits
    marked; a document whose records carry assertions gets a "context"
    column naming their categories (such as "negated,family")."""
    out.write(f"HPO release {release}\n")
    for document in documents:
        excluded = sum(r.negated for r in document.records)
        out.write(f"\n{document.id}: {len(document.records)} hits, {excluded} excluded\n")
        assessed = any(r.assertion is not None for r in document.records)
        rows = [(_span_text(r.char_span), _span_text(r.byte_span), r.term_id, r.label,
                 "EXCLUDED" if r.negated else "",
                 *((",".join(r.assertion.flags) if r.assertion is not None else "-",)
                   if assessed else ()),
                 " ".join(r.text.split()))
                for r in document.records]
        header = ("chars", "bytes", "term", "label", "excluded",
                  *(("context",) if assessed else ()), "text")
        widths = [max(len(row[i]) for row in [header, *rows]) for i in range(len(header) - 1)]
        for row in [header, *rows]:
            cells = [cell.ljust(width) for cell, width in zip(row, widths)]
            out.write("  " + "  ".join([*cells, row[-1]]).rstrip() + "\n")

"""One output record per hit, and the line-oriented formats (TSV, JSON lines,
an aligned table for people)."""
from __future__ import annotations

import json
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from typing import Protocol, TextIO

import corvanta

from corvanta_tools.offsets import CharOffsets

__all__ = ["Document", "Record", "TermLabels", "annotate", "write_jsonl", "write_table", "write_tsv"]


class TermLabels(Protocol):
    """What annotation needs of a release: the official label of a term
    (corvanta_tools.releases.Release is one)."""

    def label(self, term_id: str) -> str | None: ...


@dataclass(frozen=True)
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
    assertion: object | None = None  # context attributes, when asked for

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
        }


@dataclass(frozen=True)
class Document:
    """An annotated document: its id, its text and the records of its hits."""

    id: str
    text: str
    records: Sequence[Record]


def annotate(matcher: corvanta.Corvanta, document: str, text: str, longest: bool = False,
             release: TermLabels | None = None) -> Document:
    """Recognizes `text` and turns its hits into records; with a `release`,
    each record carries its term's official label."""
    hits = matcher.map_text_longest(text) if longest else matcher.map_text(text)
    offsets = CharOffsets(text)
    records = [
        Record(
            document=document,
            term_id=hit.term_id,
            label=hit.label,
            term_label=release.label(hit.term_id) if release is not None else None,
            char_span=offsets.char_span(hit.span),
            byte_span=hit.span,
            excluded=hit.excluded,
            text=offsets.matched_text(hit.span),
        )
        for hit in hits
    ]
    return Document(document, text, records)


TSV_COLUMNS = ("document", "term_id", "label", "term_label", "char_start", "char_end",
               "byte_start", "byte_end", "excluded", "text")

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


def _tsv_row(record: Record) -> str:
    chars = record.char_span if record.char_span is not None else ("", "")
    fields = (record.document, record.term_id, record.label, record.term_label or "", *chars,
              *record.byte_span, "true" if record.excluded else "false", record.text)
    return "\t".join(str(f).translate(_TSV_ESCAPES) for f in fields)


def write_tsv(out: TextIO, release: str, documents: Iterable[Document]) -> None:
    """A header line, then one line per hit. Tabs, line ends and backslashes
    inside fields are written as escapes (\\t, \\n, \\r, \\v, \\f, \\x1c to
    \\x1e, \\x85, \\u2028, \\u2029, \\\\); a span
    that cannot be mapped to characters leaves char_start and char_end empty."""
    out.write("\t".join(TSV_COLUMNS) + "\n")
    for document in documents:
        for record in document.records:
            out.write(_tsv_row(record) + "\n")


def write_jsonl(out: TextIO, release: str, documents: Iterable[Document]) -> None:
    """One JSON object per hit and line (see Record.as_json)."""
    for document in documents:
        for record in document.records:
            out.write(json_line(record.as_json()) + "\n")


def _span_text(span: tuple[int, int] | None) -> str:
    return "-" if span is None else f"{span[0]}-{span[1]}"


def write_table(out: TextIO, release: str, documents: Iterable[Document]) -> None:
    """A readable table per document, excluded (negated) hits marked."""
    out.write(f"HPO release {release}\n")
    for document in documents:
        excluded = sum(r.excluded for r in document.records)
        out.write(f"\n{document.id}: {len(document.records)} hits, {excluded} excluded\n")
        rows = [(_span_text(r.char_span), _span_text(r.byte_span), r.term_id, r.label,
                 "EXCLUDED" if r.excluded else "", " ".join(r.text.split()))
                for r in document.records]
        header = ("chars", "bytes", "term", "label", "excluded", "text")
        widths = [max(len(row[i]) for row in [header, *rows]) for i in range(len(header) - 1)]
        for row in [header, *rows]:
            cells = [cell.ljust(width) for cell, width in zip(row, widths)]
            out.write("  " + "  ".join([*cells, row[-1]]).rstrip() + "\n")

"""PubTator: per document a title line (`ID|t|title`), an abstract line
(`ID|a|abstract`) and one tab-separated line per annotation (document id,
start, end, mention, type, HPO id), then a blank line. Offsets count
characters of the title, one space and the abstract. Read with the `bioc`
package's PubTator support.

A plain text document becomes its first line as the title and the rest as
the abstract, line breaks and tabs turned into spaces (so no offset moves)
and the whitespace around the title and at the abstract's start dropped, as
PubTator readers drop it. Hits are typed "Phenotype", excluded (negated)
ones "ExcludedPhenotype", so that a reader taking every "Phenotype" line as
present is right: a hit is "ExcludedPhenotype" when `Record.negated`. A
record with an assertion gets a seventh column: the categories its
assertion sets, comma-separated ("negated", "uncertain", "historical",
"hypothetical", "family"), or "none". A document read from
PubTator keeps its annotations and relations, ours following them.
"""
from __future__ import annotations

import re
from collections.abc import Iterable, Iterator
from dataclasses import dataclass
from typing import TextIO

from bioc import pubtator  # type: ignore[import-untyped]

from corvanta_tools.formats import FormatError
from corvanta_tools.records import Document, Record, combined

__all__ = ["PubTatorSource", "read", "write"]

PRESENT, EXCLUDED = "Phenotype", "ExcludedPhenotype"

# What PubTator lines cannot hold: every character str.splitlines breaks at, and tab.
_UNFLAT = re.compile(r"[\t\n\r\v\f\x1c\x1d\x1e\x85\u2028\u2029]")
_BREAK = re.compile(r"[\n\r\v\f\x1c\x1d\x1e\x85\u2028\u2029]")
_ID_UNSAFE = re.compile(r"[\s|]+")


def _flat(text: str) -> str:
    return _UNFLAT.sub(" ", text)


@dataclass(frozen=True)
class PubTatorSource:
    """A document read from a PubTator file."""

    document: pubtator.PubTator

    @property
    def id(self) -> str:
        return str(self.document.pmid)

    @property
    def passages(self) -> list[tuple[int, str]]:
        title, abstract = self.document.title or "", self.document.abstract or ""
        return [(0, title), (len(title) + 1, abstract)] if abstract else [(0, title)]

    def attach(self, annotated: list[Document]) -> Document:
        parts = [(offset, part) for (offset, _), part in zip(self.passages, annotated)]
        return combined(self.id, parts, self)


@dataclass(frozen=True)
class _Layout:
    """A document's text as title and abstract, and where its characters went."""

    title: str
    abstract: str
    title_shift: int  # characters dropped before the title
    abstract_start: int  # where the abstract's kept text starts in the document

    def offset(self, char: int) -> int:
        if char < self.abstract_start:
            return char - self.title_shift
        return len(self.title) + 1 + char - self.abstract_start


def _layout(text: str) -> _Layout:
    flat = _flat(text)
    first_break = _BREAK.search(text)
    cut = first_break.start() if first_break else len(text)
    title_part, rest = flat[:cut], flat[cut + 1:]
    abstract = rest.strip()
    abstract_start = cut + 1 + len(rest) - len(rest.lstrip()) if abstract else len(text) + 1
    return _Layout(title_part.strip(), abstract, len(title_part) - len(title_part.lstrip()),
                   abstract_start)


def _pmid(document_id: str) -> str:
    return _ID_UNSAFE.sub("_", document_id) or "document"


def _line(pmid: str, start: int, end: int, mention: str, kind: str, *ids: str) -> str:
    return "\t".join((pmid, str(start), str(end), _flat(mention), kind, *ids))


def _ours(pmid: str, layout: _Layout, records: Iterable[Record]) -> Iterator[str]:
    for record in records:
        if record.char_span is not None:
            start, end = (layout.offset(c) for c in record.char_span)
            status = () if record.assertion is None else (
                ",".join(record.assertion.flags) or "none",)
            yield _line(pmid, start, end, record.text, EXCLUDED if record.negated else PRESENT,
                        record.term_id, *status)


def _theirs(document: pubtator.PubTator) -> Iterator[str]:
    for a in document.annotations:
        yield _line(document.pmid, a.start, a.end, a.text, a.type, a.id, *a.others)
    for r in document.relations:
        yield "\t".join(str(f) for f in (r.pmid, r.type, r.id1, r.id2, r.neg) if f is not None)


def write(out: TextIO, version: str, documents: Iterable[Document]) -> None:
    """The documents in PubTator format."""
    for document in documents:
        layout = _layout(document.text)
        source = document.source
        if isinstance(source, PubTatorSource):
            pmid, theirs = source.id, list(_theirs(source.document))
        else:
            pmid, theirs = _pmid(document.id), []
        out.write(f"{pmid}|t|{layout.title}\n")
        if layout.abstract:
            out.write(f"{pmid}|a|{layout.abstract}\n")
        for line in [*theirs, *_ours(pmid, layout, document.records)]:
            out.write(line + "\n")
        out.write("\n")


def _check(path: str, lines: list[str]) -> None:
    """Fails on the first line that is neither blank, a title or abstract,
    an annotation (six or more fields, integer offsets) nor a relation."""
    for number, line in enumerate(lines, start=1):
        line = line.strip()
        if not line or "|t|" in line or "|a|" in line:
            continue
        fields = line.split("\t")
        if len(fields) in (4, 5):
            continue
        if len(fields) < 6:
            raise FormatError(path, f"line {number}", "neither a title, an abstract, an "
                              "annotation nor a relation line")
        if not (fields[1].isdigit() and fields[2].isdigit()):
            raise FormatError(path, f"line {number}", "annotation offsets must be integers")


def read(path: str) -> Iterator[PubTatorSource]:
    """The documents of a PubTator file."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    lines = text.splitlines()
    _check(path, lines)
    try:
        documents = list(pubtator.iterparse_s(lines))
    except ValueError as error:
        raise FormatError(path, "annotation line", str(error)) from None
    for document in documents:
        yield PubTatorSource(document)

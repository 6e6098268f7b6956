"""PubTator: per document a title line (`ID|t|title`), an abstract line
(`ID|a|abstract`) and one tab-separated line per annotation (document id,
start, end, mention, type, HPO id), then a blank line. Offsets count
characters of the title, one space and the abstract. Written with the
`bioc` package's PubTator types; read here, line by line (see `read`).

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

from corvanta_tools.formats import MAX_OFFSET, FormatError, offset_value, shown
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


_HEADER = re.compile(r"([^\t|]*)\|([ta])\|(.*)", re.DOTALL)


class _Reader:
    """Gathers the lines of one PubTator file into documents: a title line
    starts one, a blank line ends it, and every other line must carry the
    open document's id."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.documents: list[pubtator.PubTator] = []
        self.open: pubtator.PubTator | None = None

    def fail(self, number: int, problem: str) -> FormatError:
        return FormatError(self.path, f"line {number}", problem)

    def add(self, number: int, line: str) -> None:
        if not line.strip():
            self.open = None
            return
        header = _HEADER.fullmatch(line)
        fields = [] if header else line.strip().split("\t")
        if header is None and len(fields) < 4:
            raise self.fail(number, "neither a title, an abstract, an annotation nor a relation "
                                    "line")
        pmid = (header.group(1) if header else fields[0]).strip()
        if not pmid:
            raise self.fail(number, "no document id before the first '|' or tab")
        if header is not None and header.group(2) == "t":
            self.open = pubtator.PubTator(pmid, header.group(3).strip())
            self.documents.append(self.open)
            return
        if self.open is None:
            raise self.fail(number, f"document {shown(pmid)} has no title line (ID|t|title) "
                                    "before this")
        if pmid != self.open.pmid:
            raise self.fail(number, f"document id {shown(pmid)} inside document "
                                    f"{shown(self.open.pmid)} (a blank line or a title line "
                                    "starts the next)")
        if header is None:
            self.annotation(number, fields)
        elif self.open.abstract is not None:
            raise self.fail(number, f"a second abstract line for document {shown(pmid)}")
        else:
            self.open.abstract = header.group(3).strip()

    def annotation(self, number: int, fields: list[str]) -> None:
        assert self.open is not None
        if len(fields) in (4, 5):
            self.open.add_relation(pubtator.PubTatorRel(*fields))
            return
        if len(fields) < 6:
            raise self.fail(number, "an annotation line needs six fields or more")
        start, end = offset_value(fields[1]), offset_value(fields[2])
        if start is None or end is None:
            raise self.fail(number, "annotation offsets must be integers from 0 to "
                                    f"{MAX_OFFSET}")
        if start > end:
            raise self.fail(number, f"annotation from {start} to {end} ends before it starts")
        try:
            self.open.add_annotation(pubtator.loads_ann(fields))
        except ValueError as error:
            raise self.fail(number, str(error)) from None


def read(path: str, encoding: str | None = None) -> Iterator[PubTatorSource]:
    """The documents of a PubTator file (UTF-8 unless `encoding` is given).
    Lines end at line feeds only (a carriage return before one is dropped):
    the other characters Unicode takes as line ends may stand inside a title
    or abstract."""
    with open(path, encoding=encoding or "utf-8", newline="") as f:
        text = f.read()
    reader = _Reader(path)
    for number, line in enumerate(text.split("\n"), start=1):
        reader.add(number, line.removesuffix("\r"))
    for document in reader.documents:
        yield PubTatorSource(document)

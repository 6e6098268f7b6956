"""brat standoff: a directory with `<id>.txt` (the document's text) and
`<id>.ann` per document, and the configuration a brat server needs to open
it.

Per hit that maps onto characters: a `T` line (type "Phenotype", character
offsets, the covered text; a span crossing a line break or tab is split into
fragments there, as brat requires), an `N` line normalising it to its HPO id
with the term's official label, and for an excluded (negated) hit an `A`
line setting the binary attribute "Negated". With assertions
(all but `--assertion library`) "Negated" follows `Record.negated`, the
assertion's negation, instead of the library's flag (as a Phenopacket's `excluded` does),
and the binary attributes "Uncertain", "Historical", "Hypothetical" and
"Family" get an `A` line each where ConText sets them; annotation.conf then
declares them too. Read back: the `.txt` files of such a directory.
"""
from __future__ import annotations

import re
from collections.abc import Iterable, Iterator
from pathlib import Path

from corvanta_tools.formats.names import file_names
from corvanta_tools.formats.text import TextSource
from corvanta_tools.formats.lines import with_assessed
from corvanta_tools.records import Document, Record

__all__ = ["ANNOTATION_CONF", "TOOLS_CONF", "ann_file", "files", "read"]

ENTITY = "Phenotype"
ATTRIBUTE = "Negated"

# ConText's other attributes, by the Assertion field that sets each.
CONTEXT_ATTRIBUTES = {"is_uncertain": "Uncertain", "is_historical": "Historical",
                      "is_hypothetical": "Hypothetical", "is_family": "Family"}

ANNOTATION_CONF = f"""[entities]
{ENTITY}

[relations]

[events]

[attributes]
{ATTRIBUTE} Arg:{ENTITY}
"""
CONTEXT_ANNOTATION_CONF = ANNOTATION_CONF + "".join(
    f"{name} Arg:{ENTITY}\n" for name in CONTEXT_ATTRIBUTES.values())

# The normalisation database of the N lines, linked to the HPO browser.
TOOLS_CONF = """[normalization]
HP\t<URL>:https://hpo.jax.org/, <URLBASE>:https://hpo.jax.org/browse/term/HP:%s
"""

_FRAGMENT_BREAK = re.compile(r"[\t\n\r\v\f\x1c\x1d\x1e\x85\u2028\u2029]+")


def _fragments(text: str, start: int, end: int) -> list[tuple[int, int]]:
    """The span cut at tabs and line breaks into the pieces between them."""
    pieces, at = [], start
    for gap in _FRAGMENT_BREAK.finditer(text, start, end):
        if gap.start() > at:
            pieces.append((at, gap.start()))
        at = gap.end()
    if end > at:
        pieces.append((at, end))
    return pieces


def _attributes(record: Record) -> Iterator[str]:
    if record.negated:
        yield ATTRIBUTE
    if record.assertion is not None:
        yield from (name for field, name in CONTEXT_ATTRIBUTES.items()
                    if getattr(record.assertion, field))


def ann_file(text: str, records: Iterable[Record]) -> str:
    """The `.ann` file of a document with this text. An `A` line has the
    number of its `T` line, unless ConText's attributes allow several per
    mention: then they are numbered in order."""
    records = list(records)
    several = any(r.assertion is not None for r in records)
    lines, number, attribute = [], 0, 0
    for record in records:
        if record.char_span is None:
            continue
        pieces = _fragments(text, *record.char_span)
        if not pieces:
            continue
        number += 1
        spans = ";".join(f"{s} {e}" for s, e in pieces)
        covered = " ".join(text[s:e] for s, e in pieces)
        lines.append(f"T{number}\t{ENTITY} {spans}\t{covered}")
        lines.append(f"N{number}\tReference T{number} {record.term_id}\t"
                     f"{record.term_label or record.label}")
        for name in _attributes(record):
            attribute = attribute + 1 if several else number
            lines.append(f"A{attribute}\t{name} T{number}")
    return "".join(line + "\n" for line in lines)


def files(version: str, documents: Iterable[Document]) -> Iterator[tuple[str, str]]:
    """annotation.conf, tools.conf, and `<id>.txt` and `<id>.ann` per document."""
    assessed, documents = with_assessed(documents)
    yield "annotation.conf", CONTEXT_ANNOTATION_CONF if assessed else ANNOTATION_CONF
    yield "tools.conf", TOOLS_CONF
    names = file_names()
    for document in documents:
        name = names(document.id)
        yield f"{name}.txt", document.text
        yield f"{name}.ann", ann_file(document.text, document.records)


def read(path: str, encoding: str | None = None) -> Iterator[TextSource]:
    """The document of one `.txt` file (UTF-8 unless `encoding` is given,
    read with its line ends as they are)."""
    with open(path, encoding=encoding or "utf-8", newline="") as f:
        yield TextSource(Path(path).stem, f.read())

"""BioC collections, XML and JSON, written and read with the `bioc` package.

Written: one collection, one BioC document per document, one annotation per
hit that maps onto characters, with character-offset locations and the
infons "type" ("Phenotype"), "identifier" (the HPO id), "term_label",
"label" and "excluded" ("true" or "false", the library's flag). With
an assertion (all but `--assertion library`) each
annotation also has the infons "negated", "uncertain", "historical",
"hypothetical" and "family" ("true" or "false") and "modifiers", the
triggers behind them as a JSON array of {"category", "text", "char_span"}
(character offsets, as the locations). A document read from BioC is
written back as it was read (its infons, passages, sentences, annotations
and relations kept) with ours added to the passage, or sentence, they are
found in; the collection's own source, date, key and infons are kept too.
"""
from __future__ import annotations

import datetime
import io
import json
from collections.abc import Iterable, Iterator
from dataclasses import dataclass
from typing import Annotated, Any, TextIO

import bioc  # type: ignore[import-untyped]
import msgspec
from bioc import biocjson, biocxml
from bioc.biocjson import decoder as json_decoder  # type: ignore[import-untyped]
from lxml import etree  # type: ignore[import-untyped]

from corvanta_tools.records import CATEGORIES, Assertion
from corvanta_tools.formats import MAX_OFFSET, FormatError, lone_surrogate, offset_value, shown
from corvanta_tools.formats.lines import json_line
from corvanta_tools.records import Document, Record, combined

__all__ = ["BioCSource", "collection", "read_json", "read_xml", "write_json", "write_xml"]

ANNOTATION_TYPE = "Phenotype"
# A document's passages are laid out at their offsets, the gaps between them
# filled with line breaks (records.combined); a layout needing more breaks
# than this is no real document.
MAX_GAP = 10_000_000


def _annotation(record: Record, id: str, offset: int) -> bioc.BioCAnnotation:
    assert record.char_span is not None
    start, end = record.char_span
    annotation = bioc.BioCAnnotation()
    annotation.id = id
    annotation.text = record.text
    annotation.infons = {"type": ANNOTATION_TYPE, "identifier": record.term_id,
                         "term_label": record.term_label or "", "label": record.label,
                         "excluded": "true" if record.excluded else "false"}
    if record.assertion is not None:
        annotation.infons.update(_assertion_infons(record.assertion))
    annotation.add_location(bioc.BioCLocation(offset + start, end - start))
    return annotation


def _assertion_infons(assertion: Assertion) -> dict[str, str]:
    fields = assertion.as_json()
    infons = {name[3:]: "true" if fields[name] else "false" for name in CATEGORIES.values()}
    return {**infons, "modifiers": json_line(fields["modifiers"])}


def _ids(document: bioc.BioCDocument) -> Iterator[str]:
    """Annotation ids not used in `document` yet."""
    holders = [document, *document.passages, *(s for p in document.passages for s in p.sentences)]
    used = {item.id for holder in holders for item in [*holder.annotations, *holder.relations]}
    number = 0
    while True:
        number += 1
        if f"T{number}" not in used:
            yield f"T{number}"


@dataclass(frozen=True)
class BioCSource:
    """A document read from a BioC collection, and that collection."""

    collection: bioc.BioCCollection
    document: bioc.BioCDocument

    @property
    def id(self) -> str:
        return str(self.document.id)

    def _containers(self) -> list[bioc.BioCPassage | bioc.BioCSentence]:
        """What holds text: each passage, or the sentences of a passage without text."""
        return [c for p in self.document.passages for c in (p.sentences if not p.text else [p])
                if c.text]

    @property
    def passages(self) -> list[tuple[int, str]]:
        return [(int(c.offset), c.text) for c in self._containers()]

    def attach(self, annotated: list[Document]) -> Document:
        """Adds the hits of each passage to it; the whole document in the
        records' terms."""
        ids = _ids(self.document)
        parts = []
        for container, part in zip(self._containers(), annotated):
            offset = int(container.offset)
            for record in part.records:
                if record.char_span is not None:
                    container.add_annotation(_annotation(record, next(ids), offset))
            parts.append((offset, part))
        return combined(self.id, parts, self)


def collection(documents: Iterable[Document]) -> bioc.BioCCollection:
    """The documents as one collection (see the module's description)."""
    result: bioc.BioCCollection | None = None
    for document in documents:
        if isinstance(document.source, BioCSource):
            if result is None:
                result = _like(document.source.collection)
            result.add_document(document.source.document)
            continue
        if result is None:
            result = _new_collection()
        result.add_document(_document(document))
    return result if result is not None else _new_collection()


def _like(original: bioc.BioCCollection) -> bioc.BioCCollection:
    result = bioc.BioCCollection()
    result.source, result.date, result.key = original.source, original.date, original.key
    result.infons = dict(original.infons)
    return result


def _new_collection() -> bioc.BioCCollection:
    result = bioc.BioCCollection()
    result.source = "corvanta"
    result.date = datetime.date.today().isoformat()
    result.key = "corvanta.key"
    return result


def _document(document: Document) -> bioc.BioCDocument:
    passage = bioc.BioCPassage()
    passage.offset = 0
    passage.text = document.text
    ids = (f"T{n}" for n in range(1, len(document.records) + 1))
    for record in document.records:
        if record.char_span is not None:
            passage.add_annotation(_annotation(record, next(ids), 0))
    result = bioc.BioCDocument()
    result.id = document.id
    result.add_passage(passage)
    return result


def write_xml(out: TextIO, version: str, documents: Iterable[Document]) -> None:
    """The collection as BioC XML."""
    out.write(biocxml.dumps(collection(documents)))


def write_json(out: TextIO, version: str, documents: Iterable[Document]) -> None:
    """The collection as BioC JSON, on one line (as compact as the format's
    other sources write it, and several times faster to write than indented)."""
    out.write(biocjson.dumps(collection(documents), ensure_ascii=False) + "\n")


def _integers(root: etree._Element, path: str) -> None:
    """Fails on the first offset or length that is not an integer from 0 to
    MAX_OFFSET, with its line."""
    for element in root.iter("offset", "length", "location"):
        values = [element.text] if element.tag != "location" else [
            element.get("offset"), element.get("length")]
        for value in values:
            if value is None or offset_value(value) is None:
                raise FormatError(path, f"line {element.sourceline}",
                                  f"<{element.tag}> needs an integer from 0 to {MAX_OFFSET}, "
                                  f"not {shown(value)}")


def _entities(root: etree._Element, path: str) -> None:
    """Fails on the first entity reference left in the tree: the parser
    expands none, so that no file is read and no text multiplied through one."""
    for entity in root.iter(etree.Entity):
        raise FormatError(path, f"line {entity.sourceline}",
                          f"entity reference {entity.text} is not supported")


def _laid_out(path: str, number: int, source: BioCSource) -> BioCSource:
    """The source, unless its passages' offsets leave more than MAX_GAP
    characters between them (the line breaks `combined` would lay out)."""
    end = gaps = 0
    for offset, text in source.passages:
        gap = offset - end if offset >= end else int(end > 0)
        gaps += gap
        end += gap + len(text)
    if gaps > MAX_GAP:
        raise FormatError(path, f"document {number} ({shown(source.id)})",
                          f"passage offsets leave {gaps} characters between passages; at most "
                          f"{MAX_GAP} can be laid out")
    return source


def read_xml(path: str, encoding: str | None = None) -> Iterator[BioCSource]:
    """The documents of a BioC XML collection, in the encoding it declares
    unless `encoding` is given."""
    # A given encoding is applied here (the parser knows fewer names), the
    # text handed on as UTF-8 over whatever the file declares.
    with open(path, "rb") as f:
        data = f.read() if encoding is None else f.read().decode(encoding).encode("utf-8")
    parser = etree.XMLParser(resolve_entities=False, no_network=True,
                             encoding=None if encoding is None else "utf-8")
    try:
        tree = etree.parse(io.BytesIO(data), parser)
    except etree.XMLSyntaxError as error:
        line, column = error.position
        raise FormatError(path, f"line {line}, column {column}", error.msg) from None
    root = tree.getroot()
    if root.tag != "collection":
        raise FormatError(path, f"line {root.sourceline}",
                          f"not a BioC collection: the root element is <{root.tag}>")
    _integers(root, path)
    _entities(root, path)
    try:
        parsed = biocxml.loads(etree.tostring(tree, encoding="unicode"))
    except (ValueError, AttributeError, TypeError, KeyError, etree.LxmlError) as error:
        raise FormatError(path, f"line {root.sourceline}", f"not a BioC collection ({error})") from None
    for number, document in enumerate(parsed.documents, start=1):
        yield _laid_out(path, number, BioCSource(parsed, document))


Offset = Annotated[int, msgspec.Meta(ge=0, le=MAX_OFFSET)]
Infons = dict[str, Any]


# What the `bioc` package's JSON decoder reads, and of which type.
class _Location(msgspec.Struct):
    offset: Offset
    length: Offset


class _Node(msgspec.Struct):
    refid: str
    role: str


class _Relation(msgspec.Struct):
    id: str
    infons: Infons
    nodes: list[_Node]


class _Annotation(msgspec.Struct):
    id: str
    infons: Infons
    text: str
    locations: list[_Location]


class _Sentence(msgspec.Struct):
    offset: Offset
    infons: Infons
    text: str
    annotations: list[_Annotation]
    relations: list[_Relation]


class _Passage(msgspec.Struct):
    offset: Offset
    infons: Infons
    sentences: list[_Sentence]
    annotations: list[_Annotation]
    relations: list[_Relation]
    text: str | None = None


class _Document(msgspec.Struct):
    id: str
    infons: Infons
    passages: list[_Passage]
    relations: list[_Relation]
    annotations: list[_Annotation] = []


class _Collection(msgspec.Struct):
    source: str
    date: str
    key: str
    infons: Infons
    documents: list[Any]
    version: str | None = None


def _checked(path: str, data: object, shape: type, where: str) -> None:
    """Fails unless `data` has the shape (keys, types, offset range)."""
    try:
        msgspec.convert(data, shape)
    except msgspec.ValidationError as error:
        raise FormatError(path, where, f"not a BioC {shape.__name__.strip('_').lower()}: "
                                       f"{error}") from None


def read_json(path: str, encoding: str | None = None) -> Iterator[BioCSource]:
    """The documents of a BioC JSON collection (UTF-8 unless `encoding` is given)."""
    try:
        with open(path, encoding=encoding or "utf-8") as f:
            data = json.load(f)
    except json.JSONDecodeError as error:
        raise FormatError(path, f"line {error.lineno}, column {error.colno}", error.msg) from None
    except RecursionError:
        raise FormatError(path, "top level", "nested too deeply") from None
    except UnicodeDecodeError:
        raise
    except ValueError as error:  # such as an integer of more digits than Python converts
        raise FormatError(path, "a number", str(error)) from None
    if (surrogate := lone_surrogate(data)) is not None:
        raise FormatError(path, "a string", f"not text (lone surrogate {surrogate!r})")
    if not isinstance(data, dict) or not isinstance(data.get("documents"), list):
        raise FormatError(path, "top level", "not a BioC collection: no \"documents\" list")
    _checked(path, data, _Collection, "top level")
    parsed = json_decoder.parse_collection(dict(data, documents=[]))
    for number, entry in enumerate(data["documents"], start=1):
        _checked(path, entry, _Document, f"document {number}")
        document = json_decoder.parse_doc(entry)
        parsed.add_document(document)
        yield _laid_out(path, number, BioCSource(parsed, document))

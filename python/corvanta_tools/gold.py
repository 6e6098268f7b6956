"""Gold annotations read for scoring: JSON lines, BioC (XML or JSON) and
PubTator.

JSON lines: one object per line, {"id", "text", "annotations": [{"start",
"end", "hpo_id"}, ...]}, str offsets, end exclusive; blank lines skipped.
BioC: every annotation whose "identifier" (or "hpo_id") infon is an HP id,
spanning its locations. PubTator: every annotation line whose id is an HP
id. BioC and PubTator are read by `corvanta_tools.formats` (the [formats]
extra), passages at their offsets.
"""
from __future__ import annotations

import json
import re
from collections.abc import Iterable, Iterator
from pathlib import Path
from typing import Any

from corvanta_tools.evaluate import GoldDocument, Mention
from corvanta_tools.formats import READERS, FormatError, Source, lone_surrogate

__all__ = ["GOLD_FORMATS", "GoldError", "gold_format", "read_gold", "read_gold_jsonl"]

GOLD_FORMATS = ("jsonl", "bioc-xml", "bioc-json", "pubtator")
SUFFIX_FORMATS = {".xml": "bioc-xml", ".json": "bioc-json", ".pubtator": "pubtator"}
HP_ID = re.compile(r"HP[:_](\d+)")
ID_INFONS = ("identifier", "hpo_id")


class GoldError(ValueError):
    """A gold file that cannot be read as gold; the message names the file and position."""


def gold_format(path: str) -> str:
    """The format a gold file's name suggests: BioC for .xml and .json,
    PubTator for .pubtator, JSON lines otherwise."""
    return SUFFIX_FORMATS.get(Path(path).suffix.lower(), "jsonl")


def read_gold(path: str, format: str | None = None) -> list[GoldDocument]:
    """The gold documents of a file in `format` (by default the one its name
    suggests). Raises GoldError (file and position named), OSError when it
    cannot be read, ModuleNotFoundError when a format's extra is missing."""
    format = format or gold_format(path)
    if format == "jsonl":
        documents = read_gold_jsonl(path)
    else:
        try:
            documents = list(from_sources(path, READERS[format](path, None)))
        except FormatError as error:
            raise GoldError(str(error)) from None
        except UnicodeDecodeError as error:
            raise not_utf8(path, error) from None
    if not documents:
        raise GoldError(f"{path}: no gold documents")
    seen: set[str] = set()
    for document in documents:
        if document.id in seen:
            raise GoldError(f"{document.where}: document id {document.id!r} repeated")
        seen.add(document.id)
    return documents


def gold_error(path: str, line: int, message: str) -> GoldError:
    return GoldError(f"{path}:{line}: {message}")


def not_utf8(path: str, error: UnicodeDecodeError) -> GoldError:
    return GoldError(f"{path}: not UTF-8 text ({error.reason} at byte {error.start})")


def read_gold_jsonl(path: str) -> list[GoldDocument]:
    documents = []
    with open(path, encoding="utf-8") as file:
        try:
            for number, line in enumerate(file, 1):
                if line.strip():
                    documents.append(jsonl_document(path, number, line))
        except UnicodeDecodeError as error:
            raise not_utf8(path, error) from None
    return documents


def jsonl_document(path: str, number: int, line: str) -> GoldDocument:
    try:
        record = json.loads(line)
    except json.JSONDecodeError as error:
        raise gold_error(path, number, f"not JSON: {error.msg} (column {error.colno})") from None
    except RecursionError:
        raise gold_error(path, number, "nested too deeply") from None
    except ValueError as error:  # such as an integer of more digits than Python converts
        raise gold_error(path, number, str(error)) from None
    if (surrogate := lone_surrogate(record)) is not None:
        raise gold_error(path, number, f"not text (lone surrogate {surrogate!r})")
    if not isinstance(record, dict):
        raise gold_error(path, number, "not a JSON object")
    if not isinstance(record.get("text"), str):
        raise gold_error(path, number, 'no "text" (a string)')
    if not isinstance(record.get("id"), (str, int)) or isinstance(record.get("id"), bool):
        raise gold_error(path, number, 'no "id" (a string)')
    annotations = record.get("annotations", [])
    if not isinstance(annotations, list):
        raise gold_error(path, number, '"annotations" is not a list')
    text: str = record["text"]
    return GoldDocument(str(record["id"]), ((0, text),),
                        tuple(jsonl_mention(path, number, a, len(text)) for a in annotations),
                        f"{path}:{number}")


def jsonl_mention(path: str, number: int, annotation: object, length: int) -> Mention:
    if not isinstance(annotation, dict):
        raise gold_error(path, number, "an annotation is not a JSON object")
    start, end, term_id = (annotation.get(k) for k in ("start", "end", "hpo_id"))
    if not isinstance(term_id, str) or not term_id:
        raise gold_error(path, number, 'an annotation without "hpo_id"')
    if not (type(start) is int and type(end) is int and 0 <= start <= end <= length):
        raise gold_error(path, number, f"annotation {term_id}: start and end must be offsets "
                                       f"into the text, start <= end (got {start}, {end})")
    return Mention((start, end), term_id)


def hp_id(text: object) -> str | None:
    """HP:nnnnnnn for an HP id written with a colon or an underscore."""
    match = HP_ID.fullmatch(text.strip()) if isinstance(text, str) else None
    return None if match is None else f"HP:{match.group(1)}"


def from_sources(path: str, sources: Iterable[Source]) -> Iterator[GoldDocument]:
    for number, source in enumerate(sources, 1):
        # Only the BioC and PubTator sources carry a parsed document; Source does not say so.
        document: Any = getattr(source, "document")  # noqa: B009
        mentions = bioc_mentions(document) if hasattr(document, "passages") else (
            pubtator_mentions(document))
        yield GoldDocument(source.id, tuple(source.passages), tuple(mentions),
                           f"{path}: document {number} ({source.id})")


def bioc_mentions(document: Any) -> Iterator[Mention]:
    holders = [document, *document.passages, *(s for p in document.passages for s in p.sentences)]
    for holder in holders:
        for annotation in holder.annotations:
            term_id = next(filter(None, map(hp_id, map(annotation.infons.get, ID_INFONS))), None)
            if term_id is None or not annotation.locations:
                continue
            starts = [int(location.offset) for location in annotation.locations]
            ends = [int(location.offset) + int(location.length) for location in annotation.locations]
            yield Mention((min(starts), max(ends)), term_id)


def pubtator_mentions(document: Any) -> Iterator[Mention]:
    for annotation in document.annotations:
        term_id = hp_id(annotation.id)
        if term_id is not None:
            yield Mention((int(annotation.start), int(annotation.end)), term_id)

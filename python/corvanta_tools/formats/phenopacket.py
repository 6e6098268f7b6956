"""GA4GH Phenopackets (schema 2.0), one per document, built with the
`phenopackets` package.

Each distinct term of a document is one phenotypic feature, present ones
first, each group in the order of the term's first mention. A feature is
`excluded` only when every mention of its term is excluded (negated): a term
that is present in one place and negated in another is present, because the
note does report it; its description lists every mention with its character
span and says which were negated. With ConText's assertions (`corvanta
annotate --assertion context`) a mention counts as negated when ConText
negates it, whatever the library's own flag says.
"""
from __future__ import annotations

import json
from collections.abc import Iterable, Iterator
from typing import TextIO

from google.protobuf import json_format  # type: ignore[import-untyped, unused-ignore]
from google.protobuf.timestamp_pb2 import Timestamp  # type: ignore[import-untyped, unused-ignore]
from phenopackets import (  # type: ignore[import-untyped]
    Individual, MetaData, OntologyClass, Phenopacket, PhenotypicFeature, Resource)

from corvanta_tools.formats.names import file_names
from corvanta_tools.records import Document, Record, json_line
from corvanta_tools.version import package_version

__all__ = ["files", "phenopacket", "write_jsonl"]

SCHEMA_VERSION = "2.0"


def _resource(version: str) -> Resource:
    return Resource(id="hp", name="human phenotype ontology",
                    url="http://purl.obolibrary.org/obo/hp.owl", version=version,
                    namespace_prefix="HP", iri_prefix="http://purl.obolibrary.org/obo/HP_")


def _mention(record: Record) -> str:
    if record.char_span is not None:
        where = f"characters {record.char_span[0]}-{record.char_span[1]}"
    else:
        where = f"bytes {record.byte_span[0]}-{record.byte_span[1]} of the lower-cased text"
    return f"{json.dumps(record.text, ensure_ascii=False)} at {where}" + (
        " (excluded)" if record.negated else "")


def _feature(mentions: list[Record]) -> PhenotypicFeature:
    first = mentions[0]
    count = f"{len(mentions)} mention" + ("s" if len(mentions) > 1 else "")
    return PhenotypicFeature(
        type=OntologyClass(id=first.term_id, label=first.term_label or first.label),
        excluded=all(m.negated for m in mentions),
        description=f"{count} in {first.document}: " + "; ".join(map(_mention, mentions)))


def phenopacket(document: Document, version: str, created: Timestamp,
                subject: str | None = None) -> Phenopacket:
    """The Phenopacket of one annotated document: its id the document's, its
    subject `subject` (default: the document id)."""
    by_term: dict[str, list[Record]] = {}
    for record in document.records:
        by_term.setdefault(record.term_id, []).append(record)
    features = sorted((_feature(m) for m in by_term.values()), key=lambda f: f.excluded)
    return Phenopacket(
        id=document.id, subject=Individual(id=subject or document.id),
        phenotypic_features=features,
        meta_data=MetaData(created=created, created_by=f"corvanta {package_version()}",
                           phenopacket_schema_version=SCHEMA_VERSION,
                           resources=[_resource(version)]))


def _now() -> Timestamp:
    created = Timestamp()
    created.GetCurrentTime()
    return created


def write_jsonl(out: TextIO, version: str, documents: Iterable[Document],
                subject: str | None = None) -> None:
    """One Phenopacket per document and line (protobuf JSON, camelCase keys)."""
    created = _now()
    for document in documents:
        message = json_format.MessageToDict(phenopacket(document, version, created, subject))
        out.write(json_line(message) + "\n")


def files(version: str, documents: Iterable[Document],
          subject: str | None = None) -> Iterator[tuple[str, str]]:
    """`<id>.json` per document, indented."""
    created = _now()
    names = file_names()
    for document in documents:
        message = phenopacket(document, version, created, subject)
        yield names(document.id) + ".json", json_format.MessageToJson(message, indent=2) + "\n"

"""GA4GH Phenopackets (schema 2.0), one per document, built with the
`phenopackets` package.

The subject's phenotypic features are the distinct terms of the document's
mentions about the patient, present ones first, each group in the order of
the term's first mention. A mention counts as negated by `Record.negated`
(the assertion's negation, or the library's flag without assertions). A
feature is `excluded` only when every one of its mentions is negated: a term
that is present in one place and negated in another is present, because the
note does report it. Its description lists every mention with its character
span and says which were negated, uncertain, historical or hypothetical.

Mentions about a family member (ConText's "family") are no findings of the
subject: they are left out of `phenotypicFeatures`. A Phenopacket has no
place for a relative's findings (that takes a Family message with a pedigree
the note does not give), so they are named only in the description of the
subject's feature of the same term, if there is one; every other format
keeps them with their status.
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
from corvanta_tools.formats.lines import json_line
from corvanta_tools.records import Document, Record
from corvanta_tools.version import package_version

__all__ = ["files", "phenopacket", "write_jsonl"]

SCHEMA_VERSION = "2.0"


def _resource(version: str) -> Resource:
    return Resource(id="hp", name="human phenotype ontology",
                    url="http://purl.obolibrary.org/obo/hp.owl", version=version,
                    namespace_prefix="HP", iri_prefix="http://purl.obolibrary.org/obo/HP_")


def _status(record: Record) -> list[str]:
    """What a mention's description says of it: "excluded" when negated,
    then the assertion's other categories, "family" left to the caller."""
    flags = record.assertion.flags if record.assertion is not None else ()
    return ["excluded"] * record.negated + [f for f in flags if f not in ("negated", "family")]


def _mention(record: Record) -> str:
    if record.char_span is not None:
        where = f"characters {record.char_span[0]}-{record.char_span[1]}"
    else:
        where = f"bytes {record.byte_span[0]}-{record.byte_span[1]} of the lower-cased text"
    status = _status(record)
    return f"{json.dumps(record.text, ensure_ascii=False)} at {where}" + (
        f" ({', '.join(status)})" if status else "")


def _feature(mentions: list[Record], family: list[Record]) -> PhenotypicFeature:
    first = mentions[0]
    count = f"{len(mentions)} mention" + ("s" if len(mentions) > 1 else "")
    said_of_family = (f"; also said of a family member: {'; '.join(map(_mention, family))}"
                      if family else "")
    return PhenotypicFeature(
        type=OntologyClass(id=first.term_id, label=first.term_label or first.label),
        excluded=all(m.negated for m in mentions),
        description=f"{count} in {first.document}: " + "; ".join(map(_mention, mentions))
        + said_of_family)


def _is_family(record: Record) -> bool:
    return record.assertion is not None and record.assertion.is_family


def phenopacket(document: Document, version: str, created: Timestamp,
                subject: str | None = None) -> Phenopacket:
    """The Phenopacket of one annotated document: its id the document's, its
    subject `subject` (default: the document id)."""
    subjects: dict[str, list[Record]] = {}
    family: dict[str, list[Record]] = {}
    for record in document.records:
        (family if _is_family(record) else subjects).setdefault(record.term_id, []).append(record)
    features = sorted((_feature(m, family.get(term, [])) for term, m in subjects.items()),
                      key=lambda f: f.excluded)
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

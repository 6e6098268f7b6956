"""GA4GH Phenopackets (schema 2.0), one per patient: the profile of
`corvanta_tools.patients.features` over all the patient's notes.

Each feature's description lists every mention of its term (note, span,
text, and its assertion status where one is not plain, a relative's
mention marked as such); `onset` is the
earliest date of a note that affirms the term, when the map gives dates.
"""
from __future__ import annotations

import datetime
from collections.abc import Iterable, Iterator
from typing import TextIO

from google.protobuf import json_format  # type: ignore[import-untyped, unused-ignore]
from google.protobuf.timestamp_pb2 import Timestamp  # type: ignore[import-untyped, unused-ignore]
from phenopackets import (  # type: ignore[import-untyped]
    Individual, MetaData, OntologyClass, Phenopacket, PhenotypicFeature, TimeElement)

from corvanta_tools.formats.names import file_names
from corvanta_tools.formats.phenopacket import SCHEMA_VERSION, _mention, _now, _resource
from corvanta_tools.hierarchy import Hierarchy
from corvanta_tools.patients import Feature, Patient, features
from corvanta_tools.formats.lines import json_line
from corvanta_tools.records import Record
from corvanta_tools.version import package_version

__all__ = ["patient_files", "patient_phenopacket", "write_patients_jsonl"]


def _evidence(record: Record) -> str:
    family = record.assertion is not None and record.assertion.is_family
    return f"{record.document}: {_mention(record)}" + (" (said of a family member)" if family
                                                        else "")


def _timestamp(date: datetime.date) -> Timestamp:
    stamp = Timestamp()
    stamp.FromDatetime(datetime.datetime.combine(date, datetime.time(), datetime.timezone.utc))
    return stamp


def _phenotypic_feature(feature: Feature) -> PhenotypicFeature:
    notes = len({m.document for m in feature.mentions})
    count = (f"{len(feature.mentions)} mention{'s' * (len(feature.mentions) > 1)} in "
             f"{notes} note{'s' * (notes > 1)}")
    message = PhenotypicFeature(
        type=OntologyClass(id=feature.term_id, label=feature.label), excluded=feature.excluded,
        description=f"{count}: " + "; ".join(map(_evidence, feature.mentions)))
    if feature.onset is not None:
        message.onset.CopyFrom(TimeElement(timestamp=_timestamp(feature.onset)))
    return message


def patient_phenopacket(patient: Patient, version: str, created: Timestamp,
                        hierarchy: Hierarchy | None = None) -> Phenopacket:
    """The Phenopacket of one patient, its id and subject the patient's id;
    with a `hierarchy`, only the most specific present terms."""
    return Phenopacket(
        id=patient.id, subject=Individual(id=patient.id),
        phenotypic_features=[_phenotypic_feature(f) for f in features(patient, hierarchy)],
        meta_data=MetaData(created=created, created_by=f"corvanta {package_version()}",
                           phenopacket_schema_version=SCHEMA_VERSION,
                           resources=[_resource(version)]))


def write_patients_jsonl(out: TextIO, version: str, patients: Iterable[Patient],
                         hierarchy: Hierarchy | None = None) -> None:
    """One Phenopacket per patient and line (protobuf JSON, camelCase keys)."""
    created = _now()
    for patient in patients:
        message = patient_phenopacket(patient, version, created, hierarchy)
        out.write(json_line(json_format.MessageToDict(message)) + "\n")


def patient_files(version: str, patients: Iterable[Patient],
                  hierarchy: Hierarchy | None = None) -> Iterator[tuple[str, str]]:
    """`<patient>.json` per patient, indented."""
    created = _now()
    names = file_names()
    for patient in patients:
        message = patient_phenopacket(patient, version, created, hierarchy)
        content = json_format.MessageToJson(message, indent=2) + "\n"
        yield names(f"{patient.id}.json") + ".json", content

"""Notes grouped by patient: the map, the profile rules, one Phenopacket per patient."""
import datetime
import json

import pytest

from conftest import is_a, node, release, require, write_json
from corvanta_tools import main
from corvanta_tools.records import Assertion
from corvanta_tools.hierarchy import Hierarchy
from corvanta_tools.patients import Patient, features
from corvanta_tools.releases import Release
from corvanta_tools.records import Document, Record

NOTES = {
    "n1.txt": "Generalized tonic-clonic seizures.",
    "n2.txt": "Short stature was noted at age 3.",
    "n3.txt": "No seizures. Ataxia.",
    "n4.txt": "Focal seizures since infancy. His father has ataxia.",
}
MAP = ("note,patient,date\nn1.txt,P1,2020-01-02\nn2.txt,P1,2019-05-01\nn3.txt,P2,\n"
       "n4.txt,P3,2021-03-04\n")
SEIZURE, ATAXIA, SHORT_STATURE, BTCS = "HP:0001250", "HP:0001251", "HP:0004322", "HP:0002069"


@pytest.fixture
def notes(tmp_path):
    for name, text in NOTES.items():
        (tmp_path / name).write_text(text, encoding="utf-8")
    (tmp_path / "map.csv").write_text(MAP, encoding="utf-8")
    return tmp_path


def require_formats():
    require("phenopackets", reason="the [formats] extra is not installed")


def phenopackets_of(directory, capsys, *options):
    require_formats()
    out = directory / "out"
    paths = [str(directory / name) for name in NOTES]
    assert main(["annotate", *paths, "--patients", str(directory / "map.csv"), "--format",
                 "phenopacket", "-o", f"{out}/", *options]) == 0
    capsys.readouterr()
    return {p.stem: json.loads(p.read_text(encoding="utf-8")) for p in out.glob("*.json")}


def profile(packet):
    return {f["type"]["id"]: f.get("excluded", False) for f in packet["phenotypicFeatures"]}


def test_one_valid_phenopacket_per_patient(notes, capsys):
    packets = phenopackets_of(notes, capsys)
    from google.protobuf import json_format
    from phenopackets import Phenopacket

    assert sorted(packets) == ["P1", "P2", "P3"]
    for patient, packet in packets.items():
        json_format.ParseDict(packet, Phenopacket())  # unknown or mistyped fields raise
        # What a variant prioritiser's reader needs: schema 2.0, the subject, and
        # the HPO resource with its release version.
        assert packet["id"] == packet["subject"]["id"] == patient
        meta = packet["metaData"]
        assert meta["phenopacketSchemaVersion"] == "2.0"
        assert [(r["id"], r["namespacePrefix"], r["version"]) for r in meta["resources"]] == [
            ("hp", "HP", "2025-05-06")]
    assert profile(packets["P1"])[SEIZURE] is False
    assert profile(packets["P1"])[SHORT_STATURE] is False
    assert profile(packets["P2"]) == {ATAXIA: False, SEIZURE: True}
    assert ATAXIA not in profile(packets["P3"])  # the father's
    short_stature, = (f for f in packets["P1"]["phenotypicFeatures"]
                      if f["type"]["id"] == SHORT_STATURE)
    assert short_stature["onset"] == {"timestamp": "2019-05-01T00:00:00Z"}
    assert "n2.txt" in short_stature["description"]
    assert '"Short stature" at characters 0-13' in short_stature["description"]


def test_most_specific_drops_present_ancestors(notes, capsys):
    packets = phenopackets_of(notes, capsys, "--most-specific")
    assert BTCS in profile(packets["P1"]) and SEIZURE not in profile(packets["P1"])
    assert profile(packets["P2"])[SEIZURE] is True  # excluded terms stay


@pytest.mark.parametrize(("map_text", "inputs", "message"), [
    ("note,patient\nn1.txt,P1\n", ["n1.txt", "n2.txt"], "n2.txt is not in the patient map"),
    ("note,patient\nn1.txt,P1\nn9.txt,P2\n", ["n1.txt"], "'n9.txt' matches no input"),
    ("note,patient\nn1.txt,P1\nn1.txt,P2\n", ["n1.txt"], "'n1.txt' appears twice"),
    ("note,patient,date\nn1.txt,P1,03/01/2024\n", ["n1.txt"], "line 2: date '03/01/2024'"),
    ("file,patient\nn1.txt,P1\n", ["n1.txt"], "missing: note"),
])
def test_patient_map_errors_name_the_culprit(notes, capsys, map_text, inputs, message):
    require_formats()  # the phenopacket format is checked first
    (notes / "bad.csv").write_text(map_text, encoding="utf-8")
    code = main(["annotate", *(str(notes / n) for n in inputs), "--patients",
                 str(notes / "bad.csv"), "--format", "phenopacket"])
    assert code == 3
    assert message in capsys.readouterr().err


def record(document, term, negated=False, **flags):
    return Record(document, term, "x", "x", (0, 1), (0, 1), False, "x",
                  Assertion(is_negated=negated, **flags))


@pytest.mark.parametrize(("mentions", "expected"), [
    ([{}, {"negated": True}], False),  # affirmed once: present
    ([{"negated": True}, {"negated": True}], True),  # negated everywhere: excluded
    ([{"negated": True}, {"is_family": True}], True),  # the relative's does not count
    ([{"is_family": True}], None),
    ([{"is_hypothetical": True}], None),
    ([{"is_uncertain": True}], None),
    ([{"is_uncertain": True}, {"negated": True}], None),
    ([{"is_historical": True}], False),
])
def test_feature_rules(mentions, expected):
    documents = tuple(Document(f"d{i}", "x", [record(f"d{i}", SEIZURE, **m)])
                      for i, m in enumerate(mentions))
    found = {f.term_id: f.excluded for f in features(Patient("P", documents))}
    assert found.get(SEIZURE) is expected


def test_onset_is_the_earliest_affirming_note():
    dates = {"a": datetime.date(2020, 1, 1), "b": datetime.date(2018, 1, 1),
             "c": datetime.date(2010, 1, 1)}
    documents = (Document("a", "x", [record("a", SEIZURE)]),
                 Document("b", "x", [record("b", SEIZURE)]),
                 Document("c", "x", [record("c", SEIZURE, negated=True)]))
    feature, = features(Patient("P", documents, dates))
    assert feature.onset == datetime.date(2018, 1, 1)


def test_hierarchy_closure_and_most_specific(tmp_path):
    # 3 and 4 under 2 under 1; 5 under both 4 and 1; a cycle 6 <-> 7 ends.
    edges = [is_a("0000002", "0000001"), is_a("0000003", "0000002"), is_a("0000004", "0000002"),
             is_a("0000005", "0000004"), is_a("0000005", "0000001"), is_a("0000006", "0000007"),
             is_a("0000007", "0000006")]
    nodes = [node(f"000000{i}", f"T{i}") for i in range(1, 8)]
    hierarchy = Hierarchy.of(Release(write_json(tmp_path / "hp.json", release(nodes, edges))))
    pairs = set(hierarchy.closure())
    assert {a for a, d in pairs if d == "HP:0000005"} == {
        "HP:0000005", "HP:0000004", "HP:0000002", "HP:0000001"}
    assert ("HP:0000006", "HP:0000007") in pairs and ("HP:0000007", "HP:0000006") in pairs
    assert hierarchy.most_specific(["HP:0000001", "HP:0000005", "HP:0000003", "HP:0000004"]) == [
        "HP:0000005", "HP:0000003"]


def test_patients_needs_the_phenopacket_format(notes, capsys):
    assert main(["annotate", str(notes / "n1.txt"), "--patients", str(notes / "map.csv")]) == 2
    assert "--patients works with --format phenopacket" in capsys.readouterr().err


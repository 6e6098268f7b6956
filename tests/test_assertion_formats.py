"""Assertion status (the default, `--assertion context`) in every output
format, read back with each format's own library; with `--assertion library`
the formats carry none of it."""
import html.parser
import importlib.util
import json

import pytest

from conftest import require

require("bioc", reason="the [formats] extra (bioc) is not installed")

from bioc import biocjson, biocxml, pubtator  # noqa: E402
from bioc.brat import loads as brat_loads  # noqa: E402
from conftest import REAL_RELEASE  # noqa: E402

from corvanta_tools import main  # noqa: E402

HPO = str(REAL_RELEASE)
# Short stature said of the mother, ataxia negated by ConText only, seizures present.
NOTE = "His mother has short stature. No ataxia. Seizures."
EXPECTED = {"HP:0004322": {"family"}, "HP:0001251": {"negated"}, "HP:0001250": set()}
TRIGGERS = {"HP:0004322": ["mother"], "HP:0001251": ["No"], "HP:0001250": []}


def bioc_flags(load, out):
    (document,) = load(out).documents
    annotations = [a for p in document.passages for a in p.annotations]
    assert all(a.infons["excluded"] == "false" for a in annotations)  # the library's flag kept
    flags = {a.infons["identifier"]: {f for f in ("negated", "uncertain", "historical",
                                                  "hypothetical", "family") if a.infons[f] == "true"}
             for a in annotations}
    triggers = {a.infons["identifier"]: [NOTE[slice(*m["char_span"])]
                                         for m in json.loads(a.infons["modifiers"])]
                for a in annotations}
    return flags, triggers


def pubtator_flags(out):
    (document,) = pubtator.loads(out)
    flags = {a.id: set(a.others[0].split(",")) - {"none"} for a in document.annotations}
    assert all((a.type == "ExcludedPhenotype") == ("negated" in flags[a.id])
               for a in document.annotations)
    return flags, None


def table_flags(out):
    lines = out.splitlines()
    header = lines[3].split()
    assert header[5] == "context"
    column = lines[3].index("context")
    return {line.split()[2]: set(filter(None, line[column:].split()[0].split(",")))
            if line[column] != " " else set() for line in lines[4:]}, None


class _Titles(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.hits, self.cells, self.in_cell = [], [], False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "a" and "hit" in attrs.get("class", "").split():
            self.hits.append(attrs)
        self.in_cell = tag == "td"

    def handle_data(self, data):
        if self.in_cell:
            self.cells.append(data)


def html_flags(out):
    parser = _Titles()
    parser.feed(out)
    flags, triggers = {}, {}
    for hit in parser.hits:
        term = hit["data-terms"]
        assert ("excluded" in hit["class"].split()) == (term == "HP:0001251")
        assert ("family" in hit["class"].split()) == (term == "HP:0004322")
        flags[term] = set(filter(None, hit["title"].split("ConText: ")[1].split(" (")[0]
                                 .replace("none", "").split(", ")))
        triggers[term] = [t.split('"')[1] for t in hit["title"].split(" (", 1)[1:]]
    assert "family 1 (mother)" in parser.cells and "negated 1 (No)" in parser.cells
    assert "0 excluded" not in out and "1 excluded" in out
    return flags, triggers


def brat_flags(directory):
    conf = (directory / "annotation.conf").read_text()
    assert all(f"{name} Arg:Phenotype" in conf for name in ("Negated", "Uncertain", "Historical",
                                                            "Hypothetical", "Family"))
    document = brat_loads(NOTE, (directory / "note.ann").read_text(encoding="utf-8"))
    terms = {e.id: e.text for e in document.entities}
    by_text = {"short stature": "HP:0004322", "ataxia": "HP:0001251", "Seizures": "HP:0001250"}
    flags = {term: set() for term in by_text.values()}
    for attribute in document.attributes:
        flags[by_text[terms[attribute.refid]]].add(attribute.type.lower())
    return flags, None


READERS = {"bioc-xml": lambda out: bioc_flags(biocxml.loads, out),
           "bioc-json": lambda out: bioc_flags(biocjson.loads, out),
           "pubtator": pubtator_flags, "table": table_flags, "html": html_flags}


@pytest.mark.parametrize("name", [*READERS, "brat"])
def test_formats_carry_context_attributes(capsys, tmp_path, name):
    note = tmp_path / "note.txt"
    note.write_text(NOTE, encoding="utf-8")
    out_dir = tmp_path / "out"
    outputs = {}
    for assertion in ("library", "context"):
        directory = out_dir / assertion
        argv = ["annotate", "--hpo", HPO, "--assertion", assertion, "--format", name, str(note)]
        assert main(argv + (["-o", str(directory)] if name == "brat" else [])) == 0
        outputs[assertion] = capsys.readouterr().out if name != "brat" else directory
    flags, triggers = (brat_flags if name == "brat" else READERS[name])(outputs["context"])
    assert flags == EXPECTED
    if triggers is not None:
        assert triggers == TRIGGERS
    plain = outputs["library"]
    if name == "brat":
        assert "Family" not in (plain / "annotation.conf").read_text()
        assert "\nA" not in "\n" + (plain / "note.ann").read_text()
    else:
        plain = plain.replace(str(tmp_path), "")  # the document id names the test
        plain = plain.split("</header>")[-1]  # the report's legend names every style
        assert not any(word in plain for word in ("ConText", "context", " family", '"family"',
                                                  "modifiers", "ExcludedPhenotype", "none"))


def test_bioc_triggers_move_with_their_passage(capsys, tmp_path):
    """A trigger in a later passage is placed in the whole document, as its mention is."""
    source = tmp_path / "in.json"
    source.write_text(json.dumps({
        "source": "s", "date": "d", "key": "k", "infons": {}, "documents": [{
            "id": "7", "infons": {}, "relations": [], "annotations": [], "passages": [
                {"offset": 0, "infons": {}, "text": "Seizures.", "sentences": [],
                 "annotations": [], "relations": []},
                {"offset": 20, "infons": {}, "text": "No ataxia.", "sentences": [],
                 "annotations": [], "relations": []}]}]}), encoding="utf-8")
    assert main(["annotate", "--hpo", HPO, "--assertion", "context", "--input-format",
                 "bioc-json", "--format", "jsonl", str(source)]) == 0
    records = [json.loads(line) for line in capsys.readouterr().out.splitlines()]
    ataxia = next(r for r in records if r["term_id"] == "HP:0001251")
    (modifier,) = ataxia["assertion"]["modifiers"]
    assert ataxia["char_span"] == [23, 29] and modifier["char_span"] == [20, 22]


def test_default_jsonl_carries_a_negation(capsys, tmp_path):
    note = tmp_path / "note.txt"
    note.write_text("No ataxia.", encoding="utf-8")
    assert main(["annotate", "--format", "jsonl", str(note)]) == 0
    (record,) = [json.loads(line) for line in capsys.readouterr().out.splitlines()]
    assert record["assertion"]["is_negated"] is True and record["excluded"] is False


def test_phenopacket_holds_the_patients_findings(capsys, tmp_path):
    note = tmp_path / "note.txt"
    note.write_text("No ataxia. His mother has short stature. He has scoliosis. Possible tremor. "
                    "Seizures; his father had seizures.", encoding="utf-8")
    assert main(["annotate", "--format", "phenopacket", str(note)]) == 0
    features = {f["type"]["label"]: f for f in json.loads(capsys.readouterr().out)["phenotypicFeatures"]}
    assert {label: f.get("excluded", False) for label, f in features.items()} == {
        "Scoliosis": False, "Tremor": False, "Seizure": False, "Ataxia": True}
    assert features["Ataxia"]["description"].endswith('"ataxia" at characters 3-9 (excluded)')
    assert features["Tremor"]["description"].endswith("(uncertain)")
    assert features["Seizure"]["description"].startswith("1 mention")
    assert "also said of a family member: \"seizures\"" in features["Seizure"]["description"]


@pytest.mark.parametrize("assertion, error", [("bogus", ValueError), ("medspacy", ModuleNotFoundError)])
def test_unusable_assertion_routes_fail_before_any_work(small, assertion, error):
    from corvanta_tools import annotate, annotate_many

    if assertion == "medspacy" and importlib.util.find_spec("medspacy") is not None:
        pytest.skip("medspaCy is installed here: its route works (tests/test_medspacy.py)")
    with pytest.raises(error, match="medspacy extra" if assertion == "medspacy" else "bogus"):
        annotate_many(small, iter(()), threads=2, assertion=assertion)
    with pytest.raises(error):
        annotate(small, "n", "Ataxia.", assertion=assertion)

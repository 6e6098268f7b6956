"""The medspaCy route ([medspacy] extra, an environment of its own): the
clinical pipeline with medspaCy's ConText, and `assertion="medspacy"`."""
import json
import pathlib

import pytest

from conftest import require

spacy = require("spacy", reason="the [spacy] extra (spacy) is not installed")
require("medspacy", reason="the [medspacy] extra is not installed (scripts/test-extras.sh "
                                        "makes build/medspacy-venv for it)")

from conftest import REAL_RELEASE  # noqa: E402

from corvanta_tools import annotate, main  # noqa: E402
from corvanta_tools.records import Assertion, Modifier  # noqa: E402
from corvanta_tools.spacy.assertions import assertion_of, with_assertions  # noqa: E402
from corvanta_tools.spacy import clinical_pipeline  # noqa: E402
from corvanta_tools.spacy.context import word_sequences  # noqa: E402

HPO = str(REAL_RELEASE)
SENTENCES = json.loads((pathlib.Path(__file__).parent / "data" / "assertion_sentences.json")
                       .read_text(encoding="utf-8"))
FLAGS = ("is_negated", "is_uncertain", "is_historical", "is_hypothetical", "is_family")
NOTE = ("\u0130stanbul clinic. Seizure-like episodes; no evidence of ataxia.\n"
        "Mother has short stature. Possible tremor, but no fever.")


@pytest.fixture(scope="module")
def clinical():
    return clinical_pipeline(HPO)


def hits(doc):
    return [(s.start_char, s.end_char, s.kb_id_) for s in doc.spans["hpo"]]


def test_two_processes_give_what_one_gives(clinical):
    texts = [NOTE, "No ataxia.", "His mother has short stature."] * 4
    def seen(docs):
        return [[(s.start_char, s.kb_id_, s._.hpo_label, s._.matched_label, s._.excluded,
                  assertion_of(s)) for s in doc.spans["hpo"]] for doc in docs]
    one = seen(clinical.pipe(texts))
    assert one == seen(clinical.pipe(texts, n_process=2, batch_size=2))
    assert any(a.modifiers for doc in one for *_, a in doc)


def test_disk_round_trip_keeps_the_configuration(clinical, tmp_path):
    clinical.to_disk(tmp_path / "pipeline")
    assert f'release_path = "{HPO}"' in (tmp_path / "pipeline" / "config.cfg").read_text()
    loaded = spacy.load(tmp_path / "pipeline")
    assert loaded.pipe_names == clinical.pipe_names
    assert hits(loaded(NOTE)) == hits(clinical(NOTE))


@pytest.mark.parametrize("case", SENTENCES, ids=[c["text"] for c in SENTENCES])
def test_context_attributes(clinical, case):
    doc = clinical(case["text"])
    span = next(s for s in doc.spans["hpo"] if s.kb_id_ == case["term"])
    assert span._.excluded is case["excluded"]
    assert [f for f in FLAGS if getattr(span._, f)] == [f for f in FLAGS if f in case["context"]]
    assert sorted(doc[m.modifier_span[0]:m.modifier_span[1]].text for m in span._.modifiers) == \
        sorted(case["triggers"])


def test_record_assertions_are_the_pipelines(clinical, real):
    document = annotate(real, "note", NOTE, longest=True)
    [assessed] = with_assertions([document])
    doc = clinical(NOTE)
    for record, span in zip(assessed.records, doc.spans["hpo"]):
        expected = Assertion(*(getattr(span._, f) for f in FLAGS), tuple(
            Modifier(m.category, doc[m.modifier_span[0]:m.modifier_span[1]].text,
                     (doc[m.modifier_span[0]].idx, doc[m.modifier_span[1] - 1].idx
                      + len(doc[m.modifier_span[1] - 1]))) for m in span._.modifiers))
        assert record.assertion == expected
        for modifier in expected.modifiers:
            assert NOTE[slice(*modifier.char_span)] == modifier.text
    flagged = {r.text: r.assertion for r in assessed.records}
    assert flagged["ataxia"].is_negated and flagged["short stature"].is_family
    assert flagged["tremor"].is_uncertain and not flagged["tremor"].is_negated
    assert flagged["fever"].is_negated


@pytest.mark.parametrize("pattern, expected", [
    ([{"LOWER": "no"}, {"LOWER": {"IN": ["new", "other"]}, "OP": "?"}],
     [("no", "new"), ("no", "other"), ("no",)]),
    ([{"LOWER": {"IN": ["deny", "denies"]}}], [("deny",), ("denies",)]),
    ([{"LOWER": "no", "OP": "?"}], [("no",)]),
    ([{"LOWER": "no"}, {"LOWER": "x", "OP": "*"}], None),
    ([{"ORTH": "No"}], None),
    ([{"LOWER": {"REGEX": "^no"}}], None),
    ("no.*", None),
])
def test_rules_as_word_sequences(pattern, expected):
    assert word_sequences(pattern) == expected


def test_faster_context_gives_medspacys_modifiers(clinical):
    slow = clinical_pipeline(HPO)
    slow.replace_pipe("corvanta_context", "medspacy_context",
                      config={"input_span_type": "group", "span_group_name": "hpo"})
    texts = [c["text"] for c in SENTENCES] + [NOTE]

    def modifiers(nlp):
        return [[(s.start_char, tuple((m.category, m.modifier_span, m.scope_span)
                                      for m in s._.modifiers)) for s in doc.spans["hpo"]]
                for doc in nlp.pipe(texts)]
    assert modifiers(slow) == modifiers(clinical)


def test_annotate_with_medspacy_assertions(tmp_path, capsys):
    note = tmp_path / "note.txt"
    note.write_text("No ataxia.\nHis mother has short stature; denies headache.", encoding="utf-8")
    assert main(["annotate", "--hpo", HPO, "--assertion", "medspacy", "--format", "jsonl",
                 str(note)]) == 0
    records = [json.loads(line) for line in capsys.readouterr().out.splitlines()]
    assert [(r["text"], r["excluded"], r["assertion"]["is_negated"], r["assertion"]["is_family"],
             [m["text"] for m in r["assertion"]["modifiers"]]) for r in records] == [
        ("ataxia", False, True, False, ["No"]), ("short stature", False, False, True, ["mother"]),
        ("headache", True, True, False, ["denies"])]
    assert main(["annotate", "--hpo", HPO, "--assertion", "medspacy", "--format", "phenopacket",
                 str(note)]) == 0
    features = json.loads(capsys.readouterr().out)["phenotypicFeatures"]
    assert {f["type"]["id"]: f.get("excluded", False) for f in features} == {
        "HP:0001251": True, "HP:0002315": True}  # the mother's short stature left out


@pytest.mark.parametrize("sentences", ["pyrush", "sentencizer", "library"])
def test_splitters_write_nothing_to_standard_error(sentences, capfd):
    nlp = clinical_pipeline(HPO, sentences=sentences)
    docs = list(nlp.pipe(["No ataxia. Seizures.\nPossible tremor; no fever!"] * 3))
    assert [s.text for s in docs[0].sents][:2] == ["No ataxia.", "Seizures."]
    assert capfd.readouterr().err == ""



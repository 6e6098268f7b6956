"""The spaCy integration: the "corvanta" component, the clinical pipeline with
ConText, assertions of records and displaCy's format."""
import html
import importlib.metadata
import json
import os
import pathlib
import pickle
import re
import shutil
import subprocess
import sys

import pytest

spacy = pytest.importorskip("spacy", reason="the [spacy] extra (spacy) is not installed")
pytest.importorskip("medspacy", reason="the [spacy] extra (medspacy) is not installed")

from conftest import REAL_RELEASE  # noqa: E402

from corvanta_tools import annotate, main  # noqa: E402
from corvanta_tools.assertion import Assertion, Modifier, assertion_of, with_assertions  # noqa: E402
from corvanta_tools.releases import Release  # noqa: E402
from corvanta_tools.spacy import clinical_pipeline, displacy_data  # noqa: E402
from corvanta_tools.spacy.context import word_sequences  # noqa: E402

if not REAL_RELEASE.exists():
    pytest.skip("the real release is not available", allow_module_level=True)
HPO = str(REAL_RELEASE)
SENTENCES = json.loads((pathlib.Path(__file__).parent / "data" / "assertion_sentences.json")
                       .read_text(encoding="utf-8"))
FLAGS = ("is_negated", "is_uncertain", "is_historical", "is_hypothetical", "is_family")
NOTE = ("\u0130stanbul clinic. Seizure-like episodes; no evidence of ataxia.\n"
        "Mother has short stature. Possible tremor, but no fever.")


@pytest.fixture(scope="module")
def clinical():
    return clinical_pipeline(HPO)


@pytest.fixture(scope="module")
def every_hit():
    """Tokenizer and the component alone, nested hits kept."""
    nlp = spacy.blank("en")
    nlp.add_pipe("corvanta", config={"hpo": HPO, "longest": False})
    return nlp


@pytest.fixture(scope="module")
def release():
    return Release(HPO)


def hits(doc, key="hpo"):
    return [(s.start_char, s.end_char, s.kb_id_) for s in doc.spans[key]]


def test_spans_are_the_records_at_their_character_offsets(every_hit, real, release):
    text = "\u0130stanbul: bilateral acoustic neurinomas, short stature; no evidence of ataxia."
    doc = every_hit(text)
    records = annotate(real, "d", text, release=release).records
    assert hits(doc) == [(*r.char_span, r.term_id) for r in records]
    for span, record in zip(doc.spans["hpo"], records):
        assert span.text == record.text == text[span.start_char:span.end_char]
        assert (span.label_, span._.hpo_id, span._.matched_label, span._.excluded) == (
            "PHENOTYPE", record.term_id, record.label, record.excluded)
        assert span._.hpo_label == release.label(record.term_id)
    nested = {s.kb_id_ for s in doc.spans["hpo"]} - {e.kb_id_ for e in doc.ents}
    assert nested and all(e.label_ == "PHENOTYPE" for e in doc.ents)
    assert [e.text for e in doc.ents] == ["bilateral acoustic neurinomas", "short stature", "ataxia"]


def test_hit_inside_a_token_covers_the_token(every_hit):
    doc = every_hit("Seizure-like episodes")
    span = next(s for s in doc.spans["hpo"] if s.kb_id_ == "HP:0001250")
    assert span.text in ("Seizure", "Seizure-like") and span._.matched_label == "Seizure"


@pytest.mark.parametrize("overwrite", [False, True])
def test_entities_of_other_components(overwrite):
    nlp = spacy.blank("en")
    ruler = nlp.add_pipe("entity_ruler")
    ruler.add_patterns([{"label": "DRUG", "pattern": "Aspirin"},
                        {"label": "FINDING", "pattern": [{"LOWER": "short"}]}])
    nlp.add_pipe("corvanta", config={"hpo": HPO, "overwrite_ents": overwrite})
    doc = nlp("Aspirin for short stature and ataxia.")
    kept = [(e.text, e.label_) for e in doc.ents]
    winner = ("short stature", "PHENOTYPE") if overwrite else ("short", "FINDING")
    assert kept == [("Aspirin", "DRUG"), winner, ("ataxia", "PHENOTYPE")]
    assert "short stature" in [s.text for s in doc.spans["hpo"]]
    assert doc.ents[0]._.hpo_id is None and doc.ents[0]._.excluded is None


def test_component_pickles_its_settings_not_the_matcher(every_hit):
    component = every_hit.get_pipe("corvanta")
    data = pickle.dumps(component)
    assert len(data) < 1000
    copy = pickle.loads(data)
    assert (copy.path, copy.longest, copy.spans_key) == (component.path, False, "hpo")


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
    assert f'hpo = "{HPO}"' in (tmp_path / "pipeline" / "config.cfg").read_text()
    loaded = spacy.load(tmp_path / "pipeline")
    assert loaded.pipe_names == clinical.pipe_names
    assert hits(loaded(NOTE)) == hits(clinical(NOTE))


def test_a_pipeline_saved_with_a_relative_release_loads_elsewhere(tmp_path, monkeypatch):
    monkeypatch.chdir(REAL_RELEASE.parent)
    nlp = spacy.blank("en")
    nlp.add_pipe("corvanta", config={"hpo": REAL_RELEASE.name})
    nlp.to_disk(tmp_path / "pipeline")
    monkeypatch.chdir(tmp_path)
    assert hits(spacy.load(tmp_path / "pipeline")(NOTE)) == hits(nlp(NOTE))
    # Still relative and missing here: an error on use, not a silent empty result.
    with pytest.raises(FileNotFoundError, match=REAL_RELEASE.name):
        spacy.blank("en").add_pipe("corvanta", config={"hpo": REAL_RELEASE.name})(nlp.make_doc("x"))


def test_factory_is_found_through_the_entry_point():
    factories = importlib.metadata.entry_points(group="spacy_factories")
    if "corvanta" not in [e.name for e in factories]:
        pytest.skip("the package is not installed with its entry points (pip install .)")
    code = ("import spacy; nlp = spacy.blank('en'); nlp.add_pipe('corvanta', config={'hpo': %r});"
            "print([e.kb_id_ for e in nlp('Ataxia.').ents])" % HPO)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "['HP:0001251']" and out.stderr == ""


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


@pytest.mark.parametrize("text, sentences", [
    ("No fever. Cough", ["No fever.", "Cough"]),
    ("fever; cough!\nataxia", ["fever;", "cough!", "\n", "ataxia"]),
    ("dose 3.5 mg daily", ["dose 3.5", "mg daily"]),  # ends after the token holding the "."
    ("denies fever? cough, ataxia: none", ["denies fever? cough, ataxia: none"]),
])
def test_library_sentence_rule(text, sentences):
    nlp = spacy.blank("en")
    nlp.add_pipe("corvanta_sentences")
    assert [s.text for s in nlp(text).sents] == sentences


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


def test_displacy_data(real):
    document = annotate(real, "note", "Short stature and intention tremor, no evidence of fever.")
    data = displacy_data(document)
    assert data["title"] == "note" and data["text"] == document.text
    assert [(document.text[e["start"]:e["end"]], e["label"], e["kb_id"]) for e in data["ents"]] == [
        ("Short stature", "PHENOTYPE", "HP:0004322"), ("intention tremor", "PHENOTYPE", "HP:0002080"),
        ("fever", "NEGATED", "HP:0001945")]
    assert data["ents"][0]["kb_url"] == "https://hpo.jax.org/browse/term/HP:0004322"


CHROMIUM = shutil.which("chromium")
PROBE = """<script>
const marks = [...document.querySelectorAll('mark.entity')].map(m => ({
  text: m.firstChild.textContent.trim(), link: m.querySelector('a').href,
  id: m.querySelector('a').textContent, label: m.querySelector('span').firstChild.textContent.trim(),
  visible: m.getBoundingClientRect().width > 0}));
const probe = document.createElement('pre');
probe.id = 'probe';
probe.textContent = JSON.stringify(marks);
document.body.append(probe);
</script>
</body>"""


@pytest.mark.skipif(CHROMIUM is None, reason="chromium is not installed (scripts/test-extras.sh installs it)")
@pytest.mark.skipif(os.environ.get("CORVANTA_SANITIZED") == "1",
                    reason="no browser under the sanitizer run")
def test_displacy_page_in_browser(real, tmp_path):
    from spacy import displacy

    document = annotate(real, "note", "\u0130stanbul: short stature & <tremor>, no evidence of fever.")
    page = displacy.render(displacy_data(document), style="ent", manual=True, page=True)
    probe = tmp_path / "probe.html"
    probe.write_text(page.replace("</body>", PROBE), encoding="utf-8")
    dom = subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
                          f"--user-data-dir={tmp_path / 'profile'}", "--dump-dom", probe.as_uri()],
                         capture_output=True, text=True, timeout=120, check=True).stdout
    marks = json.loads(html.unescape(re.search(r'<pre id="probe">(.*?)</pre>', dom, re.S).group(1)))
    assert [(m["text"], m["label"], m["id"], m["link"]) for m in marks] == [
        (text, label, term, "https://hpo.jax.org/browse/term/" + term) for text, label, term in [
            ("short stature", "PHENOTYPE", "HP:0004322"), ("tremor", "PHENOTYPE", "HP:0001337"),
            ("fever", "NEGATED", "HP:0001945")]]
    assert all(m["visible"] for m in marks)


def test_annotate_with_context_assertions(tmp_path, capsys):
    note = tmp_path / "note.txt"
    note.write_text("No ataxia.\nHis mother has short stature; denies headache.", encoding="utf-8")
    assert main(["annotate", "--hpo", HPO, "--assertion", "context", "--format", "jsonl",
                 str(note)]) == 0
    records = [json.loads(line) for line in capsys.readouterr().out.splitlines()]
    assert [(r["text"], r["excluded"], r["assertion"]["is_negated"], r["assertion"]["is_family"],
             [m["text"] for m in r["assertion"]["modifiers"]]) for r in records] == [
        ("ataxia", False, True, False, ["No"]), ("short stature", False, False, True, ["mother"]),
        ("headache", True, True, False, ["denies"])]
    assert main(["annotate", "--hpo", HPO, "--assertion", "context", "--format", "phenopacket",
                 str(note)]) == 0
    features = json.loads(capsys.readouterr().out)["phenotypicFeatures"]
    assert {f["type"]["id"]: f.get("excluded", False) for f in features} == {
        "HP:0001251": True, "HP:0004322": False, "HP:0002315": True}


@pytest.mark.parametrize("sentences", ["pyrush", "sentencizer", "library"])
def test_splitters_write_nothing_to_standard_error(sentences, capfd):
    nlp = clinical_pipeline(HPO, sentences=sentences)
    docs = list(nlp.pipe(["No ataxia. Seizures.\nPossible tremor; no fever!"] * 3))
    assert [s.text for s in docs[0].sents][:2] == ["No ataxia.", "Seizures."]
    assert capfd.readouterr().err == ""


def test_tsv_gets_assertion_columns_only_with_context(tmp_path, capsys):
    note = tmp_path / "note.txt"
    note.write_text("His mother has short stature.", encoding="utf-8")
    for assertion, extra in (("library", []), ("context", ["false"] * 4 + ["true"])):
        assert main(["annotate", "--hpo", HPO, "--assertion", assertion, str(note)]) == 0
        header, row = [line.split("\t") for line in capsys.readouterr().out.splitlines()]
        assert len(header) == len(row) == 10 + (6 if extra else 0)
        if extra:
            assert header[10:15] == list(FLAGS) and row[10:15] == extra
            assert json.loads(row[15]) == [
                {"category": "FAMILY", "text": "mother", "char_span": [4, 10]}]

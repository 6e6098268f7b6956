"""The spaCy integration on current spaCy (the [spacy] extra, no medspaCy):
the "corvanta" component with the toolkit's own ConText, the library's
sentence rule and displaCy's format."""
import html
import importlib.metadata
import json
import os
import pickle
import re
import shutil
import subprocess
import sys

import pytest

from conftest import require

spacy = require("spacy", reason="the [spacy] extra (spacy) is not installed")

from conftest import REAL_RELEASE  # noqa: E402

from corvanta_tools import annotate  # noqa: E402
from corvanta_tools.releases import Release  # noqa: E402
from corvanta_tools.spacy import displacy_data  # noqa: E402

HPO = str(REAL_RELEASE)
NOTE = ("\u0130stanbul clinic. Seizure-like episodes; no evidence of ataxia.\n"
        "Mother has short stature. Possible tremor, but no fever.")


@pytest.fixture(scope="module")
def every_hit():
    """Tokenizer and the component alone, nested hits kept."""
    nlp = spacy.blank("en")
    nlp.add_pipe("corvanta", config={"release_path": HPO, "longest": False})
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
        assert (span.label_, span._.hpo_id, span._.matched_label, span._.excluded,
                span._.assertion) == ("PHENOTYPE", record.term_id, record.label, record.excluded,
                                      record.assertion)
        assert span._.hpo_label == release.label(record.term_id)
    nested = {s.kb_id_ for s in doc.spans["hpo"]} - {e.kb_id_ for e in doc.ents}
    assert nested and all(e.label_ == "PHENOTYPE" for e in doc.ents)
    assert [e.text for e in doc.ents] == ["bilateral acoustic neurinomas", "short stature", "ataxia"]


@pytest.mark.parametrize("text, expected", [
    ("Seizure_like episodes", [("Seizure_like", "Seizure")]),
    ("ataxia+seizure", [("ataxia+seizure", "Ataxia"), ("ataxia+seizure", "Seizure")]),
])
def test_hit_inside_a_token_covers_the_token(every_hit, text, expected):
    doc = every_hit(text)
    assert [(s.text, s._.matched_label) for s in doc.spans["hpo"]] == expected


@pytest.mark.parametrize("overwrite", [False, True])
def test_entities_of_other_components(overwrite):
    nlp = spacy.blank("en")
    ruler = nlp.add_pipe("entity_ruler")
    ruler.add_patterns([{"label": "DRUG", "pattern": "Aspirin"},
                        {"label": "FINDING", "pattern": [{"LOWER": "short"}]}])
    nlp.add_pipe("corvanta", config={"release_path": HPO, "overwrite_ents": overwrite})
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


def test_assertions_cross_process_boundaries(every_hit):
    texts = [NOTE, "No ataxia.", "His mother has short stature."] * 4

    def seen(docs):
        return [[(s.start_char, s.kb_id_, s._.assertion) for s in doc.spans["hpo"]] for doc in docs]
    one = seen(every_hit.pipe(texts))
    assert one == seen(every_hit.pipe(texts, n_process=2, batch_size=2))
    flags = {flag for doc in one for *_, a in doc for flag in a.flags}
    assert {"negated", "family"} <= flags


@pytest.mark.parametrize("assertion", ["library", "medspacy"])
def test_component_without_native_assertions(assertion):
    nlp = spacy.blank("en")
    if assertion == "medspacy":  # medspaCy's ConText is the clinical pipeline's
        with pytest.raises(ValueError, match="clinical_pipeline"):
            nlp.add_pipe("corvanta", config={"release_path": HPO, "assertion": assertion})
        return
    nlp.add_pipe("corvanta", config={"release_path": HPO, "assertion": assertion})
    (ataxia,) = nlp("No ataxia.").ents
    assert ataxia._.hpo_id == "HP:0001251" and ataxia._.assertion is None


def test_a_pipeline_saved_with_a_relative_release_loads_elsewhere(tmp_path, monkeypatch):
    monkeypatch.chdir(REAL_RELEASE.parent)
    nlp = spacy.blank("en")
    nlp.add_pipe("corvanta", config={"release_path": REAL_RELEASE.name})
    nlp.to_disk(tmp_path / "pipeline")
    monkeypatch.chdir(tmp_path)
    assert hits(spacy.load(tmp_path / "pipeline")(NOTE)) == hits(nlp(NOTE))
    # Still relative and missing here: an error on use, not a silent empty result.
    with pytest.raises(FileNotFoundError, match=REAL_RELEASE.name):
        spacy.blank("en").add_pipe("corvanta", config={"release_path": REAL_RELEASE.name})(nlp.make_doc("x"))


def test_factory_is_found_through_the_entry_point():
    factories = importlib.metadata.entry_points(group="spacy_factories")
    if "corvanta" not in [e.name for e in factories]:
        pytest.skip("the package is not installed with its entry points (pip install .)")
    code = (f"import spacy; nlp = spacy.blank('en'); nlp.add_pipe('corvanta', config={{'release_path': {HPO!r}}});"
            "print([(e.kb_id_, e._.assertion.flags) for e in nlp('No ataxia.').ents])")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[('HP:0001251', ('negated',))]" and out.stderr == ""


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



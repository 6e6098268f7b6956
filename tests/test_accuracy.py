"""The accurate profile: its derived release, its rules, its hits on the
embedded release, and the profile option through the toolkit's surfaces."""
import json
import os
import subprocess
import sys

import pytest

import corvanta
from conftest import hp, is_a, node, release, require, write_json
from corvanta_tools.accuracy.derived_release import clustered, derived_release_path, original_surface
from corvanta_tools.accuracy.one_word import kept_one_word
from corvanta_tools.accuracy.profiles import check_profile, levers_of, recogniser_for
from corvanta_tools.accuracy.recogniser import (AccurateHit, AccurateRecogniser,
                                                accurate_recogniser, longest_only)
from corvanta_tools.accuracy.words import word_before
from corvanta_tools.embedded import default_release_path
from corvanta_tools.records import annotate
from corvanta_tools.releases import Release
from corvanta_tools.scale.threads import annotate_many

SHORT_THUMB, BROAD_THUMB = "HP:0009778", "HP:0011304"


@pytest.fixture(scope="module")
def embedded():
    return default_release_path()


@pytest.fixture(scope="module")
def accurate(embedded):
    return accurate_recogniser(embedded)


def found(recogniser, text):
    return {(h.term_id, h.text, h.excluded) for h in recogniser.hits(text)}


@pytest.fixture()
def own_cache(tmp_path, monkeypatch):
    """Derived releases of fixtures go to a cache of the test's own."""
    monkeypatch.setenv("XDG_CACHE_HOME", str(tmp_path / "cache"))
    return tmp_path / "cache" / "corvanta" / "derived"


@pytest.mark.parametrize("surface, derived", [
    ("Brachydactyly", "B{}rachydactyly"),
    ("Type C brachydactyly", "T{}ype C brachydactyly"),
    ("Ëlan", "Ë{}lan"),
    ("(A) deficiency", "(A) deficiency"),  # braces inside parentheses would change stripping
    ("Nausea and vomiting", "Nausea and vomiting"),  # "and" ends a cluster: exact only
    ("Intellectual disability, severe", "Intellectual disability, severe"),  # so does ","
    ("Low-set ears", "L{}ow-set ears"),
    ("X", "X"),
])
def test_surfaces_leave_the_exact_stage_and_come_back(surface, derived):
    assert clustered(surface) == derived
    assert original_surface(derived) == surface


def test_derived_release_keeps_version_ids_and_dropped_abbreviations(tmp_path):
    source = write_json(tmp_path / "hp.json", release(
        [node("0000118", "Phenotypic abnormality"),
         node("0001250", "Seizure", ["Seizures", "SZ", "Fits"]),
         node("0001251", "Ataxia")],
        [is_a("0001250", "0000118"), is_a("0001251", "0000118")]))
    path = derived_release_path(source, cache_dir=tmp_path / "cache")
    assert derived_release_path(source, cache_dir=tmp_path / "cache") == path  # reused
    assert Release(path).version == Release(source).version
    nodes = json.loads(open(path, encoding="utf-8").read())["graphs"][0]["nodes"]
    assert [n["id"] for n in nodes] == [hp("0000118"), hp("0001250"), hp("0001251")]
    assert [s["val"] for s in nodes[1]["meta"]["synonyms"]] == ["S{}eizures", "SZ", "F{}its"]
    derived = corvanta.Corvanta(path)
    assert derived.version() == "2025-01-01"
    # Found by clustering only, "SZ" dropped by the label table as before.
    assert [(h.term_id, h.label) for h in derived.map_text("fits, SZ")] == [
        ("HP:0001250", "F{}its")]


@pytest.mark.parametrize("word, surface, kept", [
    ("Brachydactyly", "Brachydactyly", True),  # an exact hit
    ("seizures", "Seizure", True),
    ("nevi", "Nevus", True),
    ("tumours", "Tumor", True),
    ("hands", "Hand clenching", False),
    ("into", "Intoe", False),
    ("vaginal", "Vaginitis", False),
    ("absent", "Absent electroretinogram", False),  # optional modifier word
    ("ordered", "Ordering", False),  # verbs do not inflect into nouns
    ("symptoms", "Atypical behavior", False),
])
def test_one_word_hits_must_be_their_labels_word(word, surface, kept):
    assert kept_one_word(word, surface) is kept


@pytest.mark.parametrize("text, end, floor, expected", [
    ("very short-limbed and", 17, 0, (5, 17)),  # a hyphenated compound is one word
    ("très İnfantile", 14, 0, (5, 14)),
    ("a 2nd", 5, 0, None),  # a word starts with a letter
    ("foo_bar", 7, 0, None),  # an underscore joins the run but stands in no word
    ("x" * 45, 45, 0, None),  # a run longer than words are looked for
    ("ab cdef", 7, 3, (3, 7)),
    ("abcdef", 6, 3, None),  # the run reaches back past the floor
    ("ab, ", 4, 0, None),
])
def test_word_before_takes_the_whole_run(text, end, floor, expected):
    assert word_before(text, end, floor) == expected


@pytest.mark.parametrize("text, expected, absent", [
    # The one-word label no longer hides the longer clustering hit.
    ("Brachydactyly type C.", {("HP:0009373", "Brachydactyly type C", False),
                               ("HP:0001156", "Brachydactyly", False)}, set()),
    ("He walked into the room with both hands.", set(), {"HP:0001840", "HP:0001188"}),
    ("She had short and broad thumbs.", {(SHORT_THUMB, "short and broad thumbs", False),
                                         (BROAD_THUMB, "broad thumbs", False)}, set()),
    ("small hands and feet", {("HP:0001773", "small hands and feet", False)}, set()),
    # Coordinations are looked for near a hit ("syndactyly").
    ("hypoplastic first and second toes, syndactyly",
     {("HP:0001885", "hypoplastic first and second toes", False)}, set()),
    # Negation is decided in the original sentence, and stays in it.
    ("There was no evidence of short and broad thumbs.",
     {(SHORT_THUMB, "short and broad thumbs", True)}, set()),
    ("No evidence of seizures. Short and broad thumbs.",
     {(SHORT_THUMB, "Short and broad thumbs", False)}, set()),
    # A list by dashes or lines is no cluster longer than clustering's windows reach.
    ("Hypertelorism - Hypoplasia of the small intestine - Hypoplastic colon - Micromelia - "
     "Oxycephaly - Phenotypic variability - Seizures - Strabismus - Low-set ears",
     {("HP:0000369", "Low-set ears", False), ("HP:0000486", "Strabismus", False)}, set()),
    ("Hypertelorism\nHypoplastic colon\nMicromelia\nShort stature\nMicrocephaly\nHypotonia\n"
     "Hypoplastic nails\nBroad thumbs\nLow-set ears\nSeizures\nStrabismus\nPtosis\n",
     {("HP:0000508", "Ptosis", False)}, set()),
])
def test_accurate_hits(accurate, text, expected, absent):
    hits = found(accurate, text)
    assert expected <= hits
    assert not absent & {term for term, _, _ in hits}


@pytest.mark.parametrize("prefix", ["", "Şeyma İnce: ", "Ο ασθενής, café-au-lait: ", "İİİ "])
def test_spans_of_coordinations_on_non_ascii_text(accurate, prefix):
    text = prefix + "short and broad thumbs, İnce"
    hits = [h for h in accurate.hits(text) if h.term_id == SHORT_THUMB]
    assert len(hits) == 1
    (start, end), (byte_start, byte_end) = hits[0].char_span, hits[0].byte_span
    assert text[start:end] == hits[0].text == "short and broad thumbs"
    assert (byte_start, byte_end) == (len(text[:start].lower().encode()),
                                      len(text[:end].lower().encode()))


def test_longest_only_keeps_equal_spans_and_drops_nested_ones():
    def hit(start, end, term):
        return AccurateHit((start, end), (start, end), term, term, False, "", "phenotype")
    hits = [hit(0, 10, "a"), hit(0, 4, "b"), hit(2, 10, "c"), hit(2, 10, "d"), hit(8, 14, "e"),
            hit(12, 14, "f"), hit(20, 22, "g"), hit(20, 22, "h")]
    assert [h.term_id for h in longest_only(hits)] == ["a", "e", "g", "h"]


def test_annotate_and_annotate_many_give_the_recogniser_hits(accurate, embedded):
    matcher, release_ = corvanta.Corvanta(embedded), Release(embedded)
    texts = ["Short and broad thumbs.", "Brachydactyly type C, İnce.", ""] * 20
    documents = list(annotate_many(matcher, texts, threads=2, release=release_,
                                   profile="accurate"))
    for text, document in zip(texts, documents):
        assert [(r.term_id, r.char_span, r.byte_span, r.excluded, r.text)
                for r in document.records] == [
            (h.term_id, h.char_span, h.byte_span, h.excluded, h.text) for h in accurate.hits(text)]
        assert all(r.label.find("{}") < 0 for r in document.records)
    assert documents[0].records[0].term_label == "Short thumb"
    # The matcher's own release is found without being named.
    assert annotate(matcher, "d", texts[0], profile="accurate") == annotate(
        matcher, "d", texts[0], release=None, profile="accurate")


def test_profile_checks(small):
    with pytest.raises(ValueError, match="unknown profile"):
        annotate(small, "d", "text", profile="fast")
    with pytest.raises(ValueError, match="release file"):
        recogniser_for(small, None)  # a fixture release: which file is it?


def switches_release(tmp_path):
    return write_json(tmp_path / "hp.json", release(
        [node("0000001", "All"), node("0000118", "Phenotypic abnormality"),
         node("0000005", "Mode of inheritance"),
         node("0000006", "Autosomal dominant inheritance", ["Autosomal dominant"]),
         node("0001156", "Brachydactyly"), node("0009373", "Type C brachydactyly")],
        [is_a("0000118", "0000001"), is_a("0000005", "0000001"), is_a("0000006", "0000005"),
         is_a("0001156", "0000118"), is_a("0009373", "0001156")]))


@pytest.mark.parametrize("profile, expected", [
    ("accurate", {("HP:0001156", "phenotype"), ("HP:0009373", "phenotype")}),
    ("accurate+outside-subtree", {("HP:0001156", "phenotype"), ("HP:0009373", "phenotype"),
                                  ("HP:0000006", "mode of inheritance")}),
    ("accurate+most-specific", {("HP:0009373", "phenotype")}),
    ("accurate+outside-subtree+most-specific", {("HP:0009373", "phenotype"),
                                                ("HP:0000006", "mode of inheritance")}),
])
def test_switches(tmp_path, own_cache, profile, expected):
    path = switches_release(tmp_path)
    text = "Autosomal dominant brachydactyly type C."
    hits = AccurateRecogniser(path, levers_of(profile)).hits(text)
    assert {(h.term_id, h.category) for h in hits} == expected
    assert list(own_cache.iterdir())  # the derived release went to the cache
    records = annotate(corvanta.Corvanta(path), "d", text, release=Release(path),
                       assertion="library", profile=profile).records
    assert {r.term_id for r in records} == {term for term, _ in expected}


@pytest.mark.parametrize("profile", ["accurate+bogus", "exact+most-specific",
                                     "accurate+most-specific+outside-subtree", "accurate+"])
def test_profile_names_are_checked(profile):
    with pytest.raises(ValueError, match="unknown profile"):
        check_profile(profile)


def run_cli(*args, stdin=None):
    return subprocess.run([sys.executable, "-m", "corvanta_tools", *args], input=stdin,
                          capture_output=True, text=True, env=os.environ | {"PYTHONIOENCODING": "utf-8"})


@pytest.mark.slow
def test_cli_annotate_and_evaluate_take_a_profile(tmp_path):
    text = "Short and broad thumbs."
    out = run_cli("annotate", "--profile", "accurate", "--format", "jsonl", stdin=text)
    assert out.returncode == 0, out.stderr
    records = [json.loads(line) for line in out.stdout.splitlines()]
    assert {(r["term_id"], r["text"]) for r in records} >= {(SHORT_THUMB, "Short and broad thumbs")}
    gold = tmp_path / "gold.jsonl"
    gold.write_text(json.dumps({"id": "1", "text": text, "annotations": [
        {"start": 0, "end": 22, "hpo_id": SHORT_THUMB}]}) + "\n", encoding="utf-8")
    scores = {}
    for profile in ("exact", "accurate"):
        out = run_cli("evaluate", "--gold", str(gold), "--profile", profile, "--json")
        assert out.returncode == 0, out.stderr
        scores[profile] = json.loads(out.stdout)["document"]["recall"]
    assert scores == {"exact": 0.0, "accurate": 1.0}
    assert run_cli("annotate", "--profile", "fast", stdin=text).returncode == 2
    assert run_cli("annotate", "--switch", "most-specific", stdin=text).returncode == 2
    out = run_cli("evaluate", "--gold", str(gold), "--profile", "accurate", "--switch",
                  "most-specific", "--switch", "outside-subtree", "--json")
    assert json.loads(out.stdout)["profile"] == "accurate+outside-subtree+most-specific"
    out = run_cli("annotate", "--profile", "accurate", "--switch", "most-specific", "--format",
                  "jsonl", stdin="Brachydactyly type C.")
    assert [json.loads(line)["term_id"] for line in out.stdout.splitlines()] == ["HP:0009373"]


@pytest.mark.slow
def test_spacy_component_and_service_take_a_profile(embedded):
    spacy = require("spacy", reason="the [spacy] extra is not installed")
    nlp = spacy.blank("en")
    nlp.add_pipe("corvanta", config={"profile": "accurate", "longest": False})
    doc = nlp("Short and broad thumbs.")
    assert (SHORT_THUMB, "Short and broad thumbs") in {
        (s.kb_id_, s.text) for s in doc.spans["hpo"]}
    require("fastapi", reason="the [serve] extra is not installed")
    from corvanta_tools.serve.payload import AnnotateRequest
    from corvanta_tools.serve.service import Service

    service = Service.load(embedded, profile="accurate")
    for profile, expected in ((None, True), ("exact", False)):
        documents = service.annotate(AnnotateRequest(text="short and broad thumbs",
                                                     profile=profile), max_hits=100)
        assert (SHORT_THUMB in {r.term_id for r in documents[0].records}) is expected
    documents = service.annotate(AnnotateRequest(text="Brachydactyly type C.",
                                                 profile="accurate+most-specific"), max_hits=100)
    assert [r.term_id for r in documents[0].records] == ["HP:0009373"]

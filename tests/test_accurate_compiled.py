"""The accurate profile's compiled helper (corvanta_tools._accurate) gives
what the Python twins of its passes give, result for result; without it the
profile runs on the twins alone."""
import gc
import random

import pytest

import corvanta
from corvanta_tools.accuracy import coordination, profile_records, recogniser
from corvanta_tools.accuracy.recogniser import ACCURATE, AccurateHit, accurate_recogniser
from corvanta_tools.embedded import default_release_path
from corvanta_tools.records import Record, annotate
from corvanta_tools.releases import Release

compiled = pytest.mark.skipif(
    coordination.compiled_coordinations is None,
    reason="corvanta_tools._accurate is not built (a source tree on the path)")

TEXTS = [
    "She had short and broad thumbs, small hands and feet and hypoplastic first and second toes.",
    "Clinodactyly, camptodactyly or syndactyly of the fingers; brachydactyly type C.",
    "There was no evidence of short and broad thumbs. He walked into the room with both hands.",
    "seizures and/or  ataxia and\tmicrocephaly, short-limbed and broad- thumbs",
    " and small hands and feet",  # a conjunction at the very start
    "Hypertelorism - Micromelia - Seizures\nStrabismus\nlow-set ears and ptosis",
    "The ears were low set, and the thumbs are broad; retinal, cervical and oral lesions.",
    "",
]
# Pieces of coordinations and of what breaks them, joined at random below.
PIECES = [" and ", " or ", " and/or ", "  and\t", ", ", ",", " , ", ",    ", "short", "broad", "thumbs",
          "hands", "feet", "small", "toes", "second", "first", "-", "_", "1", "x2", "İ", "é", "ΣΑΣ",
          "hypoplastic", " ", "\t", ".", ";", "no evidence of ", "NO EVİDENCE OF ", "without ", "\n",
          "of", "the", "-like", "café", "٣", "²", "a" * 41]


@pytest.fixture(scope="module")
def accurate():
    return accurate_recogniser(default_release_path())


def random_texts(count, seed=7):
    chosen = random.Random(seed)
    for _ in range(count):
        text = "".join(chosen.choice(PIECES) for _ in range(chosen.randint(1, 120)))
        yield text, sorted(chosen.sample(range(len(text) + 1), min(len(text) + 1, 30)))


@compiled
def test_coordination_search(accurate):
    words = accurate.vocabulary
    cases = [(text, list(range(0, len(text), 7))) for text in TEXTS]
    cases += [("é" + text, [0, *range(1, len(text), 9)]) for text in TEXTS]  # not ASCII
    cases += list(random_texts(3000))
    with_variants = 0
    for text, starts in cases:
        variants = coordination.python_coordination_variants(text, words, starts)
        assert coordination.compiled_coordinations(text, starts, words.words) == variants, text
        with_variants += bool(variants)
    assert with_variants > 20  # the random texts reach the search's far corners


@compiled
@pytest.mark.parametrize("levers", [ACCURATE, ACCURATE._replace(one_word_hits_checked=False)])
def test_first_pass_and_variant_hits(levers):
    found = accurate_recogniser(default_release_path(), levers)
    for text in TEXTS + [text.upper() for text in TEXTS]:
        rendered = found.matcher.map_text_json(recogniser._items_separated(text))
        hits, starts = found.ascii_hits(text, rendered)
        assert (hits, starts) == found.python_ascii_hits(text, rendered)
        assert all(type(hit) is AccurateHit for hit in hits)
        variants = found._variants(text, starts)
        assert found.new_hits(text, hits, variants) == found.python_new_hits(text, hits, variants)


@compiled
@pytest.mark.parametrize("rendering", [
    '[{"excluded":false,"label":"S{}eizure","span":[0,8],"termId":"HP:0001250"}',  # cut short
    '[{"excluded":false,"label":"S{}eizure","span":[0,80],"termId":"HP:0001250"}]',  # past the end
    '[{"excluded":0,"label":"S{}eizure","span":[0,8],"termId":"HP:0001250"}]',
    '[{"label":"S{}eizure","span":[0,8],"termId":"HP:0001250"}]',
    '[{}]', '[] x', '',
])
def test_a_malformed_rendering_is_refused(accurate, rendering):
    with pytest.raises(ValueError):
        recogniser.compiled_ascii_hits("Seizures.", rendering, True, lambda w, s: True, {},
                                       "phenotype", AccurateHit)


@compiled
def test_a_rendering_in_any_member_order_with_escapes():
    rendering = (' [ {"termId": "HP:0001250", "span": [0, 8], "label": "S{}ei\\"z\\u00e9\\ud83d\\ude00",'
                 ' "excluded": true} ] ')
    hits, starts = recogniser.compiled_ascii_hits("Seizures.", rendering, True, lambda w, s: True,
                                                  {}, "phenotype", AccurateHit)
    assert hits == [AccurateHit((0, 8), (0, 8), "HP:0001250", 'Sei"z\u00e9\U0001f600', True,
                                "Seizures", "phenotype")]
    assert starts == [0]
    with pytest.raises(ValueError, match="not ASCII"):
        recogniser.compiled_ascii_hits("Séizures.", "[]", True, lambda w, s: True, {}, "phenotype",
                                       AccurateHit)


@compiled
def test_records(accurate):
    release = Release(default_release_path())
    hits = [hit for text in TEXTS for hit in accurate.hits(text)]
    labels = {hit.term_id: release.label(hit.term_id) for hit in hits}
    records = profile_records.compiled_profile_records("d", hits, labels, Record)
    assert records == profile_records.python_profile_records("d", hits, labels)
    assert all(type(record) is Record for record in records)
    # Records of strings, numbers and their tuples are left to reference
    # counting; one that holds anything else stays with the garbage collector.
    odd = hits[0]._replace(text=["a list"])
    kept, tracked = profile_records.compiled_profile_records("d", [hits[0], odd], labels, Record)
    assert (gc.is_tracked(kept), gc.is_tracked(tracked)) == (False, True)
    with pytest.raises(KeyError):
        profile_records.compiled_profile_records("d", hits, {}, Record)


def test_the_profile_without_the_compiled_helper(monkeypatch, accurate):
    matcher, release = corvanta.Corvanta(default_release_path()), Release(default_release_path())
    texts = TEXTS + ["Şeyma İnce: short and broad thumbs, café-au-lait spots."]
    expected = [annotate(matcher, "d", text, release=release, assertion="library",
                         profile="accurate") for text in texts]
    for module, name in ((coordination, "compiled_coordinations"),
                         (recogniser, "compiled_ascii_hits"),
                         (recogniser, "compiled_ascii_variant_hits"),
                         (profile_records, "compiled_profile_records")):
        monkeypatch.setattr(module, name, None)
    assert [annotate(matcher, "d", text, release=release, assertion="library",
                     profile="accurate") for text in texts] == expected

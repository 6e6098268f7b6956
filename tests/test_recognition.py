"""Recognition end to end on a small hand-written release."""
import json
import threading

import pytest


def hits(matcher, text, longest=False):
    found = matcher.map_text_longest(text) if longest else matcher.map_text(text)
    return [(h.term_id, h.label, h.span, h.excluded) for h in found]


@pytest.mark.parametrize(
    "text, expected",
    [
        # exact stage: whole labels and synonyms on word boundaries
        ("Ataxia", [("HP:0001251", "Ataxia", (0, 6), False)]),
        ("Patient has seizures.", [("HP:0001250", "Seizures", (12, 20), False)]),
        ("EPILEPTIC SEIZURE", [("HP:0001250", "Epileptic seizure", (0, 17), False)]),
        # a match inside a longer word is rejected; the clustering stage still
        # finds the stem
        ("ataxias", [("HP:0001251", "Ataxia", (0, 7), False)]),
        # clustering: words in any order, skip words between them
        ("stature is short", [("HP:0004322", "Short stature", (0, 16), False)]),
        ("heart abnormality", [("HP:0001627", "Abnormality of the heart", (0, 17), False)]),
        # a synonym group mate ("cardiac" for "heart") reports the label it came from
        ("abnormality cardiac", [("HP:0001627", "Cardiac abnormality", (0, 19), False)]),
        # a hard separator splits clusters, a soft one does not
        ("stature, short", []),
        ("stature-short", [("HP:0004322", "Short stature", (0, 13), False)]),
        # an unknown word between known words splits the cluster
        ("stature unusually short", []),
        ("", []),
        ("nothing to see here", []),
    ],
)
def test_map_text(small, text, expected):
    assert hits(small, text) == expected


# Which hits map_text_longest keeps is checked against a naive filter in C++
# (test_hit_selection.cpp); here only that the binding applies it.
def test_nested_clustering_hits_and_longest(small):
    text = "tremors of intention"
    whole = ("HP:0002080", "Intention tremor", (0, 20), False)
    inner = ("HP:0001337", "Tremor", (0, 7), False)
    assert hits(small, text) == [whole, inner]
    assert hits(small, text, longest=True) == [whole]


def test_exact_hit_takes_precedence_over_longer_candidate(small):
    # "acidosis" is an exact hit; the whole-cluster candidate "Lactic
    # acidosis" overlaps it and is dropped in both modes
    for longest in (False, True):
        assert hits(small, "acidosis lactic", longest) == [("HP:0001941", "Acidosis", (0, 8), False)]


# The negation rules are tested in C++ (test_negation.cpp); here only that
# the flag reaches the binding's hits.
def test_negation_reaches_the_hits(small):
    assert {h.label: h.excluded for h in small.map_text("Patient denies headache but reports seizures")} == {
        "Headache": True, "Seizures": False}


@pytest.mark.parametrize(
    "text, span",
    [
        ("\u00e9 Ataxia", (3, 9)),  # U+00E9 is two bytes, unchanged by lower-casing
        ("\u0130 Ataxia", (4, 10)),  # U+0130 becomes "i" + U+0307, three bytes
    ],
)
def test_spans_are_byte_offsets_into_the_lower_cased_text(small, text, span):
    assert [h.span for h in small.map_text(text)] == [span]


TEXTS = [
    "No evidence of seizures. Short stature and ataxia.",
    "tremors of intention, heart abnormality; fever without cough",
    "Denies headache \"quoted\" tumour? lactic acidosis / obesity\nstroke",
    "\u00c9TAT: fatigue \u2019 constipation \u0130 dementia",
]


@pytest.mark.parametrize("text", TEXTS)
def test_json_describes_the_same_hits(small, text):
    rendered = json.loads(small.map_text_json(text))
    assert rendered == [
        {"excluded": h.excluded, "label": h.label, "span": list(h.span), "termId": h.term_id}
        for h in small.map_text(text)
    ]
    assert rendered, "each text has hits"
    assert all(list(obj) == ["excluded", "label", "span", "termId"] for obj in rendered)


def test_threads_share_one_matcher(small):
    texts = TEXTS * 50
    expected = [small.map_text_json(t) for t in texts]
    results = [None] * 4

    def work(i):
        results[i] = [small.map_text_json(t) for t in texts]

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(r == expected for r in results)

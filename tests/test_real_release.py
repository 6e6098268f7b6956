"""Sentences on the real 2025-05-06 release, with hits checked against its
labels and synonyms (e.g. HP:0001640 Cardiomegaly has the exact synonym
"Enlarged heart"; HP:0000988 "Skin rash" has "Rash")."""
import pytest


@pytest.mark.parametrize(
    "text, expected",
    [
        ("no evidence of seizures", [("HP:0001250", "Seizures", (15, 23), True)]),
        ("Short stature and ataxia, intellectual disability, and microcephaly.", [
            ("HP:0004322", "Short stature", (0, 13), False),
            ("HP:0001251", "Ataxia", (18, 24), False),
            ("HP:0001249", "Intellectual disability", (26, 49), False),
            ("HP:0000252", "Microcephaly", (55, 67), False),
        ]),
        # clustering: words in any order, a skip word ("was") between them
        ("The heart was enlarged.", [("HP:0001640", "Enlarged heart", (4, 22), False)]),
        # a whole-cluster hit and a nested one; "without" negates the rash
        ("She has recurrent fevers without rash.", [
            ("HP:0001954", "Recurrent fever", (8, 24), False),
            ("HP:0001945", "Fever", (18, 24), False),
            ("HP:0000988", "Rash", (33, 37), True),
        ]),
    ],
)
def test_sentences(real, text, expected):
    assert [(h.term_id, h.label, h.span, h.excluded) for h in real.map_text(text)] == expected


"""Predicative mentions: "the ears were low set", "the thumbs are broad".

The clustering stage skips "is", "was" and "appeared" inside a cluster but
not "are", "were" or "looked", nor an adverb such as "markedly": the variant
leaves out the copula (and one adverb after it) so that the subject meets its
predicate, one to three words up to the next punctuation or conjunction. A
negated predicate ("were not", "never") gets no variant: the sentence's
negation would not see it. Only a subject and a predicate that are label
words are worth it.
"""
from __future__ import annotations

import re

from corvanta_tools.accuracy.variants import Segments, variant_start
from corvanta_tools.accuracy.vocabulary import Vocabulary
from corvanta_tools.accuracy.words import WORD, word_before

__all__ = ["predicative_variants"]

_DEGREE = r"(?:[^\W\d_]+ly|very|quite|rather|somewhat|too)"
_COPULA = re.compile(
    rf"[ \t](?:(?:are|were|be|been|being|look|looks|looked|became|become|becomes)"
    rf"(?:[ \t]+{_DEGREE})?|(?:is|was|appeared|appears|seemed|seems)[ \t]+{_DEGREE})[ \t]+"
    rf"(?!(?:not|never|no|and|or|also|the|a|an)\b)"
    rf"(({WORD})(?:[ \t]+(?!and\b|or\b|but\b){WORD}){{0,2}})")


def predicative_variants(text: str, vocabulary: Vocabulary) -> list[Segments]:
    """One variant per predicative mention of label words in `text`: its
    sentence up to the subject, then the predicate."""
    variants: list[Segments] = []
    for copula in _COPULA.finditer(text):
        if copula.group(2) not in vocabulary:
            continue
        subject = word_before(text, copula.start())
        if subject is not None and text[subject[0]:subject[1]] in vocabulary:
            variants.append(((variant_start(text, subject[0]), subject[1]), copula.span(1)))
    return variants

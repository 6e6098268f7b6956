"""Coordinated words that share a head or a modifier.

"short and broad thumbs", "small hands and feet", "hypoplastic first and
second toes", "clinodactyly, camptodactyly or syndactyly of the fingers":
two to five single words (a hyphenated compound counts as one) joined by
commas and a final "and" or "or", with up to three words after the last one
in the same phrase. Each conjunct gets a variant in which it stands alone
between what precedes the list and what follows it ("short thumbs",
"hypoplastic second toes", "small feet"). Only lists near a hit of the text, whose last two
conjuncts and one shared word are label words, are worth it: other words
cannot make a term.

The search is compiled (corvanta_tools._accurate) where the toolkit was
built; `python_coordination_variants` is the reference it equals.
"""
from __future__ import annotations

import re
from collections.abc import Sequence

from corvanta_tools.accuracy.variants import Segments, variant_start
from corvanta_tools.accuracy.vocabulary import Vocabulary
from corvanta_tools.accuracy.words import WORD, word_before

__all__ = ["compiled_coordinations", "coordination_variants", "python_coordination_variants"]

try:
    from corvanta_tools._accurate import coordinations as compiled_coordinations
except ImportError:  # a source tree on the path without the toolkit's compiled helper
    compiled_coordinations = None  # type: ignore[assignment]

_CONJUNCTION = re.compile(rf" (?:and|or|and/or)[ \t]+({WORD})(?![\w-])")
_FOLLOWING = re.compile(rf"[ \t-]+({WORD})(?:[ \t-]+{WORD}){{0,2}}")
_MAX_CONJUNCTS = 5
_MAX_GAP = 3  # characters between a listed word and the next: a comma and spaces
# How far from a hit a coordination is looked for: a few words.
_REACH = 20


def _listed_before(text: str, start: int, floor: int) -> tuple[int, int] | None:
    """The word before a comma that stands before `start` (spaces between)."""
    end = start
    while end > floor and start - end <= _MAX_GAP and text[end - 1] in " \t":
        end -= 1
    if end <= floor or text[end - 1] != ",":
        return None
    return word_before(text, end - 1, floor)


def _earlier_conjuncts(text: str, end: int, floor: int) -> list[tuple[int, int]]:
    """The conjuncts before the conjunction at `end`, in text order."""
    end -= text[end - 1] == ","
    last = word_before(text, end, floor)
    if last is None:
        return []
    conjuncts = [last]
    while len(conjuncts) < _MAX_CONJUNCTS - 1:
        earlier = _listed_before(text, conjuncts[-1][0], floor)
        if earlier is None:
            break
        conjuncts.append(earlier)
    return conjuncts[::-1]


def coordination_variants(text: str, vocabulary: Vocabulary,
                          hit_starts: Sequence[int]) -> list[Segments]:
    """One variant per conjunct of every coordination of label words in `text`
    whose conjunction lies within a few words of a hit (`hit_starts`, in order)."""
    if compiled_coordinations is not None:
        return compiled_coordinations(text, hit_starts, vocabulary.words)
    return python_coordination_variants(text, vocabulary, hit_starts)


def python_coordination_variants(text: str, vocabulary: Vocabulary,
                                 hit_starts: Sequence[int]) -> list[Segments]:
    """`coordination_variants`, searched in Python."""
    variants: list[Segments] = []
    k, count = 0, len(hit_starts)
    words = vocabulary.words
    for conjunction in _CONJUNCTION.finditer(text):
        place = conjunction.start()
        # Conjunctions come in text order: the hits too far back for this
        # one are too far back for every later one.
        while k < count and hit_starts[k] < place - _REACH:
            k += 1
        if k == count:
            break
        if hit_starts[k] > place + _REACH:
            continue
        word = conjunction.group(1).lower()
        if word not in words and word.rpartition("-")[2] not in words:  # `in vocabulary`, inline
            continue
        conjuncts = _earlier_conjuncts(text, place, 0)
        if not conjuncts or text[slice(*conjuncts[-1])] not in vocabulary:
            continue
        last = conjunction.span(1)
        following = _FOLLOWING.match(text, last[1])
        before = word_before(text, _trimmed_end(text, conjuncts[0][0]))
        if not ((following is not None and following.group(1) in vocabulary)
                or (before is not None and text[slice(*before)] in vocabulary)):
            continue
        tail = (last[1], following.end() if following is not None else last[1])
        lead = (variant_start(text, conjuncts[0][0]), conjuncts[0][0])
        variants.extend((lead, conjunct, tail) for conjunct in (*conjuncts, last))
    return variants


def _trimmed_end(text: str, end: int) -> int:
    """`end` moved back over the spaces before it."""
    while end > 0 and text[end - 1] in " \t":
        end -= 1
    return end

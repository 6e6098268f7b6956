"""The words of the labels and synonyms of a release's phenotypic
abnormalities (the terms the matcher knows), lower-cased, stop words left
out: a coordination or a predicate whose words are not among them cannot make
a term, and is not worth a variant."""
from __future__ import annotations

import re
from collections.abc import Iterable

__all__ = ["Vocabulary"]

_WORD = re.compile(r"[^\W_]+")
# The label table's stop words: no clustering window holds them.
_STOP_WORDS = frozenset(
    "of in at or on by no an be is do the and but are has had did have been done being having "
    "because".split())


def _plurals(word: str) -> tuple[str, ...]:
    if word.endswith("y"):
        return word + "s", word[:-1] + "ies"
    return word + "s", word + "es"


class Vocabulary:
    """Whether a text word (a hyphenated compound by its last part) is a
    label word, up to a plural ending."""

    __slots__ = ("_words",)

    def __init__(self, surfaces: Iterable[str]) -> None:
        words = {w for surface in surfaces for w in _WORD.findall(surface.lower())} - _STOP_WORDS
        self._words = frozenset(words | {plural for w in words for plural in _plurals(w)})

    @property
    def words(self) -> frozenset[str]:
        """The lower-cased label words and their plurals, for a caller that
        checks many words inline."""
        return self._words

    def __contains__(self, word: str) -> bool:
        word = word.lower()
        return word in self._words or word.rpartition("-")[2] in self._words

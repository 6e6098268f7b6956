"""The word that ends at a place in a text."""
from __future__ import annotations

import re

__all__ = ["WORD", "word_before"]

# A word of a coordination or predicate: letters and digits starting with a
# letter, a hyphenated compound counting as one.
WORD = r"[^\W\d_][^\W_]*(?:-[^\W_]+)*"
_WORD = re.compile(WORD)
_LONGEST = 40  # longer words are not looked for


def _word_character(char: str) -> bool:
    """Whether `char` may stand in a word (the regular expressions' [\\w-])."""
    return char.isalnum() or char in "_-"


def word_before(text: str, end: int, floor: int = 0) -> tuple[int, int] | None:
    """The word that ends at `end`, not reaching before `floor`; None when none does.

    The word is the whole run of word characters that ends at `end`: a run
    that reaches back past the limit is no word at all."""
    limit = max(floor, end - _LONGEST)
    start = end
    while start > limit and _word_character(text[start - 1]):
        start -= 1
    if start == limit and start > 0 and _word_character(text[start - 1]):
        return None
    return (start, end) if _WORD.fullmatch(text, start, end) is not None else None

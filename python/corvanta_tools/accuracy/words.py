"""The word that ends at a place in a text."""
from __future__ import annotations

import re

__all__ = ["WORD", "word_before"]

# A word of a coordination or predicate: letters and digits starting with a
# letter, a hyphenated compound counting as one.
WORD = r"[^\W\d_][^\W_]*(?:-[^\W_]+)*"
_ENDING = re.compile(rf"(?<![\w-])({WORD})\Z")
_LONGEST = 40  # longer words are not looked for


def word_before(text: str, end: int, floor: int = 0) -> tuple[int, int] | None:
    """The word that ends at `end`, not reaching before `floor`; None when none does."""
    match = _ENDING.search(text, max(floor, end - _LONGEST), end)
    return None if match is None else match.span(1)

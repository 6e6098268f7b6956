"""The word that ends at a place in a text."""
from __future__ import annotations

import re

__all__ = ["WORD", "word_before"]

# A word of a coordination or predicate: letters and digits starting with a
# letter, a hyphenated compound counting as one.
WORD = r"[^\W\d_][^\W_]*(?:-[^\W_]+)*"
_WORD = re.compile(WORD)
# The characters a word may hold, and a run of them.
_RUN_CHARACTER = re.compile(r"[\w-]")
_RUN = re.compile(r"[\w-]*")
_LONGEST = 40  # longer words are not looked for


def word_before(text: str, end: int, floor: int = 0) -> tuple[int, int] | None:
    """The word that ends at `end`, not reaching before `floor`; None when none does.

    The word is the whole run of word characters that ends at `end`: a run
    that reaches back past the limit is no word at all. The run is measured
    forwards in the reversed stretch before `end`, one regular-expression
    step rather than one Python step per character."""
    limit = max(floor, end - _LONGEST)
    run = _RUN.match(text[limit:end][::-1])
    start = end - (run.end() if run is not None else 0)
    if start == limit and start > 0 and _RUN_CHARACTER.match(text, start - 1) is not None:
        return None
    return (start, end) if _WORD.fullmatch(text, start, end) is not None else None

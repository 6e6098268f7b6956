"""From the byte spans of hits to str indices of the caller's text.

A hit's span counts UTF-8 bytes of the lower-cased text, because that is the
text recognition runs over. For ASCII text those are the caller's str indices.
Otherwise every character whose lower-casing has a different UTF-8 length than
the character itself (U+0130 grows from two bytes to three, U+212A KELVIN SIGN
shrinks from three to one) shifts every later offset.

The conversion below walks the text once and adds up, per character, the UTF-8
length of its lower-casing. That length does not depend on context: the only
context-dependent mapping of the default lower-casing, final sigma, picks
between two letters of the same length. Python's own `str.lower` supplies the
length, which matches the library's lower-casing for every character this
interpreter's Unicode tables know (tests/test_cli.py checks all of them). A
character the tables do not know (assigned in a newer Unicode version) may
lower-case differently there, so no offset at or after it is vouched for.
"""
from __future__ import annotations

import functools
import itertools
import unicodedata
from bisect import bisect_left

__all__ = ["CharOffsets", "char_span"]


@functools.lru_cache(maxsize=8192)
def _lowered_length(char: str) -> int:
    """UTF-8 length of `char` lower-cased, or 0 when this interpreter's
    Unicode tables do not know the character."""
    if unicodedata.category(char) == "Cn":
        return 0
    return len(char.lower().encode("utf-8"))


class CharOffsets:
    """Converts the byte spans of the hits of one text into str indices of it.

    Build it once per text and ask it for every hit of that text:

        offsets = CharOffsets(text)
        for hit in matcher.map_text(text):
            span = offsets.char_span(hit.span)   # None when it cannot be mapped
    """

    __slots__ = ("_text", "_bounds", "_proven_end", "_lowered")

    def __init__(self, text: str) -> None:
        self._text = text
        self._lowered: bytes | None = None
        # _bounds[i] is the lower-cased byte offset where character i starts,
        # up to the first character of unknown length; None means every byte
        # offset is the character index (ASCII text).
        self._bounds: list[int] | None = None
        self._proven_end = len(text)
        if text.isascii():
            return
        lengths = [_lowered_length(c) for c in text]
        if 0 in lengths:
            del lengths[lengths.index(0):]
        self._bounds = [0, *itertools.accumulate(lengths)]
        self._proven_end = self._bounds[-1]

    def char_span(self, span: tuple[int, int]) -> tuple[int, int] | None:
        """The str indices (start, end) of `text` that the byte span covers.

        None when the span cannot be mapped: it reaches past a character this
        interpreter's Unicode tables do not know, or one of its ends falls
        inside the lower-casing of a single character (U+0130 lower-cases to
        two characters, and a word may end between them)."""
        start, end = span
        if not 0 <= start <= end <= self._proven_end:
            return None
        if self._bounds is None:
            return start, end
        first = self._index_of(start)
        last = self._index_of(end)
        if first is None or last is None:
            return None
        return first, last

    def matched_text(self, span: tuple[int, int]) -> str:
        """What the span covers: the caller's text where the span maps onto
        it, else the bytes of the lower-cased text (decoded leniently)."""
        chars = self.char_span(span)
        if chars is not None:
            return self._text[chars[0]:chars[1]]
        if self._lowered is None:
            self._lowered = self._text.lower().encode("utf-8")
        return self._lowered[span[0]:span[1]].decode("utf-8", "replace")

    def _index_of(self, offset: int) -> int | None:
        assert self._bounds is not None
        i = bisect_left(self._bounds, offset)
        return i if i < len(self._bounds) and self._bounds[i] == offset else None


def char_span(text: str, span: tuple[int, int]) -> tuple[int, int] | None:
    """One-off form of `CharOffsets(text).char_span(span)`; build a
    `CharOffsets` instead when a text has several hits."""
    return CharOffsets(text).char_span(span)

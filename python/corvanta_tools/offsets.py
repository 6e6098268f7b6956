"""From the byte spans of hits to str indices of the caller's text.

A hit's span counts UTF-8 bytes of the lower-cased text, because that is the
text recognition runs over. For ASCII text those are the caller's str indices.
Otherwise every character whose lower-casing has a different UTF-8 length than
the character itself (U+0130 grows from two bytes to three, U+212A KELVIN SIGN
shrinks from three to one) shifts every later offset.

The conversion adds up, per character, the UTF-8 length of its lower-casing.
An ASCII character lower-cases to one ASCII byte, so only the non-ASCII
characters are looked at: the table holds, for each of them, its str index and
the byte offset where its lower-casing starts, and an offset between two of
them is a plain difference from the one before. Memory and time go with the
number of non-ASCII characters, not with the text's length.

That length does not depend on context: the only context-dependent mapping of
the default lower-casing, final sigma, picks between two letters of the same
length. Python's own `str.lower` supplies the length, which matches the
library's lower-casing for every character this interpreter's Unicode tables
know (tests/test_cli.py checks all of them). A character the tables do not
know (assigned in a newer Unicode version) may lower-case differently there,
so no offset at or after it is vouched for.
"""
from __future__ import annotations

import functools
import re
import unicodedata
from array import array
from bisect import bisect_right

__all__ = ["CharOffsets", "char_span"]

_NON_ASCII = re.compile(r"[^\x00-\x7f]")


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

    __slots__ = ("_text", "_indices", "_starts", "_ends", "_proven_end", "_lowered")

    def __init__(self, text: str) -> None:
        self._text = text
        self._lowered: bytes | None = None
        # For the k-th non-ASCII character (up to the first one of unknown
        # length): its str index, and the lower-cased byte offsets where its
        # lower-casing starts and ends.
        self._indices = array("q")
        self._starts = array("q")
        self._ends = array("q")
        self._proven_end = len(text)
        if text.isascii():
            return
        shift = 0  # lower-cased bytes minus str indices so far
        for match in _NON_ASCII.finditer(text):
            index = match.start()
            length = _lowered_length(match.group())
            if length == 0:
                self._proven_end = index + shift
                return
            self._indices.append(index)
            self._starts.append(index + shift)
            shift += length - 1
            self._ends.append(index + 1 + shift)
        self._proven_end = len(text) + shift

    def char_span(self, span: tuple[int, int]) -> tuple[int, int] | None:
        """The str indices (start, end) of `text` that the byte span covers.

        None when the span cannot be mapped: it reaches past a character this
        interpreter's Unicode tables do not know, or one of its ends falls
        inside the lower-casing of a single character (U+0130 lower-cases to
        two characters, and a word may end between them)."""
        start, end = span
        if not 0 <= start <= end <= self._proven_end:
            return None
        k = bisect_right(self._starts, end) - 1  # the last non-ASCII character before the end
        if k < 0:
            return start, end  # within the ASCII prefix
        after = self._ends[k]
        if start >= after:  # within the ASCII run that follows it
            shift = after - self._indices[k] - 1
            return start - shift, end - shift
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
        """The str index whose lower-casing starts at byte `offset`, or None
        when the offset falls inside one character's lower-casing."""
        k = bisect_right(self._starts, offset) - 1
        if k < 0:
            return offset  # within the ASCII prefix
        if offset == self._starts[k]:
            return self._indices[k]
        if offset < self._ends[k]:
            return None
        return self._indices[k] + 1 + offset - self._ends[k]


def char_span(text: str, span: tuple[int, int]) -> tuple[int, int] | None:
    """One-off form of `CharOffsets(text).char_span(span)`; build a
    `CharOffsets` instead when a text has several hits."""
    return CharOffsets(text).char_span(span)

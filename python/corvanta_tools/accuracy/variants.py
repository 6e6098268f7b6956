"""Rewritten sentences, recognised in one call, their new hits placed in the
original text.

A variant is a stretch of the original text with some parts left out: its
kept segments (str index ranges, in order) are joined by one space. Leaving
out "and broad" from "short and broad thumbs" brings "short" next to
"thumbs"; leaving out "were" from "the ears were low set" brings "ears" next
to "low set". A variant whose sentence holds a negation cue before its
words starts where its sentence starts, so that the extension's negation
judges its hits in the words of the original sentence; others start a few
words back.

All variants of a text are recognised in one `map_text` call, separated by a
full stop and a line break (which end a cluster and a sentence). A hit is new
only when it crosses a join, that is when it takes words that do not stand
together in the original text; it is reported with the span that covers its
words in the original text, from its first word to its last.
"""
from __future__ import annotations

import re
from bisect import bisect_right
from collections.abc import Sequence
from typing import NamedTuple

import corvanta

from corvanta_tools.accuracy.json_hits import json_hits
from corvanta_tools.offsets import CharOffsets

__all__ = ["Segments", "VariantHit", "variant_start", "variant_hits"]

Segments = tuple[tuple[int, int], ...]
_SEPARATOR = ".\n"
# How far a variant reaches back for its sentence's negation cues, and for
# the words of a term before a coordination or predicate.
_MAX_PREFIX = 300
_LOCAL_PREFIX = 40
# The phrases that open a negation's scope in the extension (the first words
# of each, which is all a variant needs to know that it must keep them).
_NEGATION_CUE = re.compile(
    "no evidence|no sign|without|negative for|denie|ruled out|not seen|absence of")


class VariantHit(NamedTuple):
    char_span: tuple[int, int]  # covering span in the original text
    term_id: str
    label: str
    excluded: bool


def variant_start(text: str, index: int) -> int:
    """Where a variant of the words at `index` starts: at its sentence's start
    (after a full stop, semicolon, exclamation mark or line break, as negation
    cuts sentences) when a negation cue stands between, so that negation sees
    the cue; otherwise a few words back, enough for the words a term may share."""
    floor = max(0, index - _MAX_PREFIX)
    start = max(text.rfind(".", floor, index), text.rfind(";", floor, index),
                text.rfind("!", floor, index), text.rfind("\n", floor, index)) + 1
    if start == 0 and floor > 0:
        space = text.find(" ", floor, index)
        start = index if space < 0 else space + 1
    start = max(start, floor)
    if index - start > _LOCAL_PREFIX:
        before = text[start:index].lower()
        if _NEGATION_CUE.search(before) is None:
            space = text.find(" ", index - _LOCAL_PREFIX, index)
            start = index if space < 0 else space + 1
    return start


def _merged(segments: Segments) -> list[tuple[int, int]]:
    merged: list[tuple[int, int]] = []
    for start, end in segments:
        if merged and merged[-1][1] == start:
            merged[-1] = (merged[-1][0], end)
        elif end > start:
            merged.append((start, end))
    return merged


class _Layout:
    """The synthetic text of all variants, and where each of its pieces came from."""

    def __init__(self, text: str, variants: Sequence[Segments]) -> None:
        parts: list[str] = []
        self.starts: list[int] = []  # synthetic index of each piece
        self.origins: list[int] = []  # original index of each piece
        self.joins: list[int] = []  # synthetic indices where two pieces of a variant meet
        position = 0
        for segments in variants:
            for k, (start, end) in enumerate(_merged(segments)):
                if k:
                    parts.append(" ")
                    position += 1
                    self.joins.append(position)
                self.starts.append(position)
                self.origins.append(start)
                parts.append(text[start:end])
                position += end - start
            parts.append(_SEPARATOR)
            position += len(_SEPARATOR)
        self.text = "".join(parts)

    def crosses_join(self, start: int, end: int) -> bool:
        k = bisect_right(self.joins, start)
        return k < len(self.joins) and self.joins[k] < end

    def original(self, index: int, is_end: bool) -> int:
        k = bisect_right(self.starts, index - 1 if is_end else index) - 1
        return self.origins[k] + index - self.starts[k]


def variant_hits(matcher: corvanta.Corvanta, text: str,
                 variants: Sequence[Segments]) -> list[VariantHit]:
    """The hits of `variants` of `text` that cross a join, in the original text."""
    if not variants:
        return []
    layout = _Layout(text, variants)
    offsets = None if layout.text.isascii() else CharOffsets(layout.text)
    found = []
    for hit in json_hits(matcher, layout.text):
        span = hit.span if offsets is None else offsets.char_span(hit.span)
        if span is None or not layout.crosses_join(*span):
            continue
        start, end = layout.original(span[0], False), layout.original(span[1], True)
        found.append(VariantHit((start, end), hit.term_id, hit.label, hit.excluded))
    return found

"""ConText assertion status of mentions, natively: negated, uncertain,
historical, hypothetical or about a family member, and the trigger phrases
behind each, from the lexicon in rules.tsv (no spaCy).

    document = assess(annotate(matcher, "note", "No seizures. Possible hypotonia."))
    [record.assertion.flags for record in document.records]  # [("negated",), ("uncertain",)]

`assertions` works on a text and the str spans of its mentions,
`record_assertions` on the spans of its records (what `annotate` asks);
`assess` fills `Record.assertion` of an annotated document, `assess_all` of
many.
"""
from __future__ import annotations

import itertools
from bisect import bisect_right
from collections.abc import Iterable, Iterator, Sequence

from corvanta_tools.context.engine import assertions
from corvanta_tools.context.lexicon import Lexicon, Rule, default_lexicon, read_rules
from corvanta_tools.records import Assertion, Document

__all__ = ["Lexicon", "Rule", "assertions", "assess", "assess_all", "default_lexicon",
           "read_rules", "record_assertions"]


def assess(document: Document, lexicon: Lexicon | None = None) -> Document:
    """The document with every record's `assertion` filled (see
    `record_assertions`); `annotate` fills them as it makes the records."""
    records = document.records
    if not records:
        return document
    found = record_assertions(document.text, [r.char_span for r in records],
                              [r.byte_span for r in records], lexicon)
    return Document(document.id, document.text, [
        record._replace(assertion=assertion) for record, assertion in zip(records, found)],
        document.source)


def record_assertions(text: str, char_spans: Sequence[tuple[int, int] | None],
                      byte_spans: Sequence[tuple[int, int]],
                      lexicon: Lexicon | None = None) -> list[Assertion]:
    """The ConText attributes of the mentions of `text`, in order, given by
    their str spans and the byte spans of their hits. A mention without str
    offsets (its byte span does not map onto whole characters of the text)
    is placed on the characters whose lower-casing its bytes touch."""
    mapped = [chars for chars in char_spans if chars is not None]
    if len(mapped) < len(char_spans):
        located = _LoweredBytes(text)
        mapped = [chars or located.char_span(span) for chars, span in zip(char_spans, byte_spans)]
    return assertions(text, mapped, lexicon)


def assess_all(documents: Iterable[Document], lexicon: Lexicon | None = None) -> Iterator[Document]:
    """`assess` of each document, lazily."""
    return (assess(document, lexicon) for document in documents)


class _LoweredBytes:
    """Where each character's lower-casing starts in the UTF-8 bytes of the
    lower-cased text (this interpreter's lower-casing)."""

    def __init__(self, text: str) -> None:
        lengths = (len(char.lower().encode("utf-8")) for char in text)
        self._starts = list(itertools.accumulate(lengths, initial=0))

    def char_span(self, byte_span: Sequence[int]) -> tuple[int, int]:
        start, end = byte_span
        last = len(self._starts) - 1
        first = min(bisect_right(self._starts, start) - 1, last)
        stop = min(bisect_right(self._starts, max(start, end - 1)), last)
        return first, max(stop, first)

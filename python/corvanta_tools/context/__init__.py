"""ConText assertion status of mentions, natively: negated, uncertain,
historical, hypothetical or about a family member, and the trigger phrases
behind each, from the lexicon in rules.tsv (no spaCy).

    document = assess(annotate(matcher, "note", "No seizures. Possible hypotonia."))
    [record.assertion.flags for record in document.records]  # [("negated",), ("uncertain",)]

`assertions` works on a text and the str spans of its mentions; `assess`
fills `Record.assertion` of an annotated document, `assess_all` of many.
"""
from __future__ import annotations

import itertools
from bisect import bisect_right
from collections.abc import Iterable, Iterator, Sequence

from corvanta_tools.context.engine import assertions
from corvanta_tools.context.lexicon import Lexicon, Rule, default_lexicon, read_rules
from corvanta_tools.records import Document, Record

__all__ = ["Lexicon", "Rule", "assertions", "assess", "assess_all", "default_lexicon",
           "read_rules"]


def assess(document: Document, lexicon: Lexicon | None = None) -> Document:
    """The document with every record's `assertion` filled. A record without
    str offsets (its byte span does not map onto whole characters of the
    text) is placed on the characters whose lower-casing its bytes touch."""
    records = document.records
    if not records:
        return document
    spans = [record.char_span for record in records if record.char_span is not None]
    if len(spans) < len(records):
        located = _LoweredBytes(document.text)
        spans = [record.char_span or located.char_span(record.byte_span) for record in records]
    found = assertions(document.text, spans, lexicon)
    return Document(document.id, document.text, [
        Record(r.document, r.term_id, r.label, r.term_label, r.char_span, r.byte_span, r.excluded,
               r.text, assertion) for r, assertion in zip(records, found)], document.source)


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

"""Assertion status of a mention by medspaCy's ConText (the records'
`Assertion`, which every route shares, is corvanta_tools.records'; the
default route is corvanta_tools.context).

`with_assertions` fills
`Record.assertion` of already annotated documents by medspaCy's rules
(`assertion="medspacy"`); it needs the [medspacy] extra.

    documents = with_assertions(annotate(matcher, "note", text) for ...)
"""
from __future__ import annotations

import bisect
import dataclasses
import re
from collections.abc import Callable, Iterable, Iterator
from typing import TYPE_CHECKING, Any

from corvanta_tools.records import UNMODIFIED, Assertion, Document, Modifier
from corvanta_tools.spacy.sentences import DELIMITERS

if TYPE_CHECKING:
    from spacy.tokens import Span

__all__ = ["assertion_of", "with_assertions"]

TARGETS = "corvanta_targets"
_DELIMITER = re.compile(f"[{DELIMITERS}]")


def assertion_of(span: Span, offset: int = 0) -> Assertion:
    """The ConText attributes medspaCy set on `span`; trigger offsets are
    shifted by `offset` (where the span's text starts in the document)."""
    doc = span.doc
    modifiers = []
    for modifier in span._.modifiers:
        start, end = modifier.modifier_span
        trigger = doc[start:end]
        modifiers.append(Modifier(modifier.category, trigger.text,
                                  (offset + trigger.start_char, offset + trigger.end_char)))
    flags = span._
    return Assertion(flags.is_negated, flags.is_uncertain, flags.is_historical,
                     flags.is_hypothetical, flags.is_family, tuple(modifiers))


def with_assertions(documents: Iterable[Document], sentences: str = "library",
                    batch_size: int = 64) -> Iterator[Document]:
    """The documents with `Record.assertion` filled for every record that has
    character offsets (the others keep None); `sentences` picks the sentence
    splitter, as in corvanta_tools.spacy.clinical_pipeline.

    With the library's sentence rule only the sentences that hold a record
    are read (ConText's triggers act inside their sentence): about half of a
    MEDLINE abstract."""
    from corvanta_tools.spacy.clinical import assertion_pipeline

    nlp = assertion_pipeline(sentences)
    pieces_of = _record_sentences if sentences == "library" else _whole_text
    batch: list[Document] = []
    for document in documents:
        batch.append(document)
        if len(batch) == batch_size:
            yield from _assessed(nlp, batch, pieces_of)
            batch = []
    yield from _assessed(nlp, batch, pieces_of)


Piece = tuple[int, int, list[int]]  # text start, end, indices of its records


def _whole_text(document: Document) -> list[Piece]:
    placed = [i for i, record in enumerate(document.records) if record.char_span is not None]
    return [(0, len(document.text), placed)] if placed else []


def _record_sentences(document: Document) -> list[Piece]:
    """Runs of sentences (by the library's rule) that hold records: each
    record's sentences from its start to its end, overlapping runs merged."""
    text = document.text
    bounds = [m.start() for m in _DELIMITER.finditer(text)]
    placed = sorted((record.char_span, i) for i, record in enumerate(document.records)
                    if record.char_span is not None)
    pieces: list[Piece] = []
    for (start, end), i in placed:
        before = bisect.bisect_left(bounds, start)
        first = bounds[before - 1] + 1 if before else 0
        after = bisect.bisect_left(bounds, end)
        last = bounds[after] if after < len(bounds) else len(text)
        if pieces and first <= pieces[-1][1]:
            begin, stop, indices = pieces[-1]
            indices.append(i)
            pieces[-1] = (begin, max(last, stop), indices)
        else:
            pieces.append((first, last, [i]))
    return pieces


def _assessed(nlp: Any, batch: list[Document],
              pieces_of: Callable[[Document], list[Piece]]) -> Iterator[Document]:
    docs = nlp.pipe(_with_targets(nlp, document, pieces_of(document)) for document in batch)
    for doc, document in zip(docs, batch):
        assertions: list[Assertion | None] = [None] * len(document.records)
        targets = doc.spans[TARGETS]
        for i, position, offset in doc.user_data.pop(TARGETS):
            target = targets[position]
            # Without a sectionizer, ConText sets attributes only through modifiers.
            assertions[i] = assertion_of(target, offset) if target._.modifiers else UNMODIFIED
        records = [record._replace(assertion=assertion)
                   for record, assertion in zip(document.records, assertions)]
        yield dataclasses.replace(document, records=records)


def _with_targets(nlp: Any, document: Document, pieces: list[Piece]) -> Any:
    """The pieces of the document's text, joined by line feeds (several
    pieces come only from the library's rule, for which a line feed ends a
    sentence), as one Doc with the records as ConText's targets. Its user data lists (record index, target position,
    offset from the Doc's text to the document's) for the records placed."""
    joined: list[str] = []
    at = 0
    spans: list[Span] = []
    placed: list[tuple[int, int, int]] = []
    wanted: list[tuple[int, int, int, int]] = []
    for start, end, indices in pieces:
        joined.append(document.text[start:end])
        for i in indices:
            first, last = document.records[i].char_span  # type: ignore[misc]
            wanted.append((i, first - start + at, min(last, end) - start + at, start - at))
        at += end - start + 1
    doc = nlp.make_doc("\n".join(joined))
    for i, first, last, offset in wanted:
        span = doc.char_span(first, last, label="PHENOTYPE", alignment_mode="expand")
        if span is not None:
            placed.append((i, len(spans), offset))
            spans.append(span)
    doc.spans[TARGETS] = spans
    doc.user_data[TARGETS] = placed
    return doc

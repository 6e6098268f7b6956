"""Scoring recognised concepts against gold annotations.

Three views, each micro-averaged over the documents (counts summed first):

- document: per document, the set of term ids found against the set
  annotated;
- lenient mentions: a found mention is right, and a gold mention is found,
  when the other side has one with the same id and an overlapping span;
- strict mentions: (start, end, id) triples compared as sets.

Ids on both sides pass through `primary_id` of the release, so gold coded
with alternative or obsolete ids meets the current term. Found mentions in
the scope of a negation are dropped unless `keep_excluded`. Spans are str
(code point) offsets, end exclusive. Any recogniser's output can be scored:
hand `score` the mentions it found per document.
"""
from __future__ import annotations

from collections.abc import Callable, Iterable, Mapping, Sequence
from dataclasses import dataclass, field
from typing import Protocol

import corvanta

from corvanta_tools.offsets import CharOffsets

__all__ = ["LEVELS", "Counts", "Evaluation", "GoldDocument", "Mention", "Scores", "found_mentions",
           "profile_mentions", "score", "unknown_ids"]

LEVELS = ("document", "lenient", "strict")


@dataclass(frozen=True, slots=True)
class Mention:
    """One concept mention: str offsets (None when the span has none) and a term id."""

    span: tuple[int, int] | None
    term_id: str
    excluded: bool = False


@dataclass(frozen=True, slots=True)
class GoldDocument:
    """A gold document: its text as passages, each with its str offset in the
    document, and the mentions annotated, in the document's offsets."""

    id: str
    passages: tuple[tuple[int, str], ...]
    mentions: tuple[Mention, ...]
    where: str = ""  # file and position, for messages


class PrimaryIds(Protocol):
    """What scoring needs of a release (corvanta_tools.releases.Release is one)."""

    def primary_id(self, term_id: str) -> str: ...


@dataclass(frozen=True, slots=True)
class Counts:
    """found / gold items, and the right ones among each (equal except for
    lenient mentions, where one found mention may cover several gold ones)."""

    found: int = 0
    gold: int = 0
    found_right: int = 0
    gold_found: int = 0

    def __add__(self, other: Counts) -> Counts:
        return Counts(self.found + other.found, self.gold + other.gold,
                      self.found_right + other.found_right, self.gold_found + other.gold_found)

    @property
    def precision(self) -> float:
        return self.found_right / self.found if self.found else 0.0

    @property
    def recall(self) -> float:
        return self.gold_found / self.gold if self.gold else 0.0

    @property
    def f1(self) -> float:
        p, r = self.precision, self.recall
        return 2 * p * r / (p + r) if p + r else 0.0

    def as_json(self) -> dict[str, float | int]:
        return {"precision": self.precision, "recall": self.recall, "f1": self.f1,
                "found": self.found, "gold": self.gold, "found_right": self.found_right,
                "gold_found": self.gold_found}


@dataclass(frozen=True)
class Scores:
    """The three views for one document or for a whole corpus."""

    document: Counts = Counts()
    lenient: Counts = Counts()
    strict: Counts = Counts()

    def __add__(self, other: Scores) -> Scores:
        return Scores(self.document + other.document, self.lenient + other.lenient,
                      self.strict + other.strict)

    def level(self, name: str) -> Counts:
        counts: Counts = getattr(self, name)
        return counts


@dataclass(frozen=True)
class Evaluation:
    total: Scores
    documents: Mapping[str, Scores] = field(default_factory=dict)
    unplaced: int = 0  # found mentions without str offsets, left out of the mention views

    def as_json(self, per_document: bool = False) -> dict[str, object]:
        result: dict[str, object] = {
            level: self.total.level(level).as_json() for level in LEVELS}
        result["documents"] = len(self.documents)
        result["unplaced_mentions"] = self.unplaced
        if per_document:
            result["per_document"] = {
                doc: {level: scores.level(level).as_json() for level in LEVELS}
                for doc, scores in self.documents.items()}
        return result


def overlapping(a: tuple[int, int], b: tuple[int, int]) -> bool:
    return a[0] < b[1] and b[0] < a[1]


def lenient_matches(found: set[tuple[int, int, str]],
                    gold: set[tuple[int, int, str]]) -> tuple[int, int]:
    """(found mentions overlapping a gold one of the same id, gold mentions
    overlapping a found one of the same id)."""
    gold_by_id: dict[str, list[tuple[int, int]]] = {}
    for start, end, term_id in gold:
        gold_by_id.setdefault(term_id, []).append((start, end))
    right = 0
    covered: set[tuple[int, int, str]] = set()
    for start, end, term_id in found:
        hits = [g for g in gold_by_id.get(term_id, ()) if overlapping((start, end), g)]
        right += bool(hits)
        covered.update((*g, term_id) for g in hits)
    return right, len(covered)


def document_scores(found: Iterable[Mention], gold: Iterable[Mention],
                    primary: Callable[[str], str]) -> tuple[Scores, int]:
    found_ids: set[str] = set()
    found_spans: set[tuple[int, int, str]] = set()
    unplaced = 0
    for mention in found:
        term_id = primary(mention.term_id)
        found_ids.add(term_id)
        if mention.span is None:
            unplaced += 1
        else:
            found_spans.add((*mention.span, term_id))
    gold_ids = set()
    gold_spans = set()
    for mention in gold:
        term_id = primary(mention.term_id)
        gold_ids.add(term_id)
        if mention.span is not None:
            gold_spans.add((*mention.span, term_id))
    same_ids = len(found_ids & gold_ids)
    same_spans = len(found_spans & gold_spans)
    right, covered = lenient_matches(found_spans, gold_spans)
    return Scores(
        Counts(len(found_ids), len(gold_ids), same_ids, same_ids),
        Counts(len(found_spans), len(gold_spans), right, covered),
        Counts(len(found_spans), len(gold_spans), same_spans, same_spans)), unplaced


def score(gold: Iterable[GoldDocument], found: Mapping[str, Iterable[Mention]],
          release: PrimaryIds | None = None, keep_excluded: bool = False) -> Evaluation:
    """Scores the mentions `found` per document id against `gold`; a gold
    document missing from `found` counts as one where nothing was found."""
    primary = release.primary_id if release is not None else str
    total = Scores()
    per_document: dict[str, Scores] = {}
    unplaced = 0
    for document in gold:
        kept = [m for m in found.get(document.id, ()) if keep_excluded or not m.excluded]
        scores, missing = document_scores(kept, document.mentions, primary)
        per_document[document.id] = scores
        total += scores
        unplaced += missing
    return Evaluation(total, per_document, unplaced)


def found_mentions(matcher: corvanta.Corvanta, documents: Iterable[GoldDocument],
                   longest: bool = False) -> dict[str, list[Mention]]:
    """What the matcher finds in each gold document, passage by passage, by
    document id."""
    recognise = matcher.map_text_longest if longest else matcher.map_text
    found: dict[str, list[Mention]] = {}
    for document in documents:
        mentions = found.setdefault(document.id, [])
        for offset, text in document.passages:
            offsets = CharOffsets(text)
            for hit in recognise(text):
                span = offsets.char_span(hit.span)
                if span is not None:
                    span = (span[0] + offset, span[1] + offset)
                mentions.append(Mention(span, hit.term_id, hit.excluded))
    return found


class _ProfileHit(Protocol):
    @property
    def char_span(self) -> tuple[int, int] | None: ...
    @property
    def term_id(self) -> str: ...
    @property
    def excluded(self) -> bool: ...


class ProfileRecogniser(Protocol):
    """A recogniser of a profile other than exact (corvanta_tools.accuracy's is one)."""

    def hits(self, text: str, longest: bool = False) -> Sequence[_ProfileHit]: ...


def profile_mentions(recogniser: ProfileRecogniser, documents: Iterable[GoldDocument],
                     longest: bool = False) -> dict[str, list[Mention]]:
    """`found_mentions` for the recogniser of a profile."""
    found: dict[str, list[Mention]] = {}
    for document in documents:
        mentions = found.setdefault(document.id, [])
        for offset, text in document.passages:
            for hit in recogniser.hits(text, longest):
                span = hit.char_span
                if span is not None:
                    span = (span[0] + offset, span[1] + offset)
                mentions.append(Mention(span, hit.term_id, hit.excluded))
    return found


def unknown_ids(documents: Iterable[GoldDocument], known: Callable[[str], bool]) -> list[str]:
    """Warnings, one per gold id the release does not know, where it first occurs."""
    first: dict[str, str] = {}
    for document in documents:
        for mention in document.mentions:
            if not known(mention.term_id):
                first.setdefault(mention.term_id, document.where)
    return [f"{where}: {term_id} is not an id of the release" for term_id, where in first.items()]

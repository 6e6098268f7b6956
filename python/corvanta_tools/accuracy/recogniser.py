"""The accurate profile's recognition: the derived release's `map_text` (every
hit a clustering hit), one-word hits checked against their labels, and the
hits of coordination and predicative variants added."""
from __future__ import annotations

import functools
import re
import threading
from collections.abc import Iterable
from typing import NamedTuple

import corvanta

from corvanta_tools.accuracy.coordination import coordination_variants
from corvanta_tools.accuracy.derived_release import (OUTSIDE_ROOTS, derived_release_path,
                                                     original_surface)
from corvanta_tools.accuracy.graph import PHENOTYPE_ROOT, ReleaseGraph
from corvanta_tools.accuracy.json_hits import JsonHit, decoded_hits
from corvanta_tools.accuracy.most_specific import most_specific
from corvanta_tools.accuracy.one_word import kept_one_word
from corvanta_tools.accuracy.predicative import predicative_variants
from corvanta_tools.accuracy.variants import Segments, VariantHit, variant_hits
from corvanta_tools.accuracy.vocabulary import Vocabulary
from corvanta_tools.offsets import CharOffsets

__all__ = ["ACCURATE", "PHENOTYPE", "AccurateHit", "AccurateRecogniser", "Levers", "accurate_recogniser",
           "compiled_ascii_hits", "compiled_ascii_variant_hits"]

try:
    from corvanta_tools._accurate import ascii_hits as compiled_ascii_hits
    from corvanta_tools._accurate import ascii_variant_hits as compiled_ascii_variant_hits
except ImportError:  # a source tree on the path without the toolkit's compiled helper
    compiled_ascii_hits = compiled_ascii_variant_hits = None  # type: ignore[assignment]


class Levers(NamedTuple):
    """Which of the profile's changes to recognition are on."""

    labels_cluster: bool = True  # no exact label match suppresses the clustering hits it overlaps
    one_word_hits_checked: bool = True  # one-word clustering hits must be their label's word
    coordination: bool = True  # each conjunct of "short and broad thumbs" with the shared words
    predicative: bool = True  # "the ears were low set"
    # Switches, whose sign depends on how a corpus annotates:
    outside_subtree: bool = False  # mode of inheritance and clinical modifiers, as categories
    most_specific: bool = False  # of nested ancestor and descendant hits, the descendant only


# Predicative variants find little outside case reports and cost a scan of every
# text: not part of the profile (benchmarks/accuracy.py measures them), nor
# are the switches.
ACCURATE = Levers(predicative=False)
PHENOTYPE = "phenotype"


class AccurateHit(NamedTuple):
    byte_span: tuple[int, int]  # UTF-8 bytes of the lower-cased text, as Hit.span
    char_span: tuple[int, int] | None  # str indices; None where the bytes do not map
    term_id: str
    label: str  # the label-table surface, as the release writes it
    excluded: bool
    text: str  # the covered text
    category: str  # PHENOTYPE, or the name of an OUTSIDE_ROOTS subtree (Levers.outside_subtree)

    @property
    def span(self) -> tuple[int, int]:
        """`byte_span`, under the name `corvanta.Hit` gives it."""
        return self.byte_span


# A line break before a capital (Latin, Greek, Cyrillic), a digit or a bullet.
_NEW_LINE = re.compile("\n(?=[ \t]*[A-Z\u00c0-\u00de\u0391-\u03a9\u0410-\u042f0-9*\u2022-])")


# A hit made without the keyword handling of its class's constructor.
_make_hit = tuple.__new__


def _start(hit: AccurateHit) -> int:
    return hit.byte_span[0]


def _items_separated(text: str) -> str:
    """`text` with its items kept apart for recognition, offsets unchanged:
    a spaced hyphen (a dash between items, "Seizures - Strabismus") becomes a
    comma, and a line break before a line that starts anew (a capital, a digit,
    a bullet) a full stop, which negation takes for a line break's equal. The
    clustering stage reads both as spaces, and a list of terms would make one
    cluster longer than its windows reach; a line break inside a sentence
    (lower case after it) stays."""
    if " - " in text:
        text = text.replace(" - ", " , ")
    return _NEW_LINE.sub(".", text) if "\n" in text else text


def _lowered_offset(text: str, index: int) -> int:
    return index if text.isascii() else len(text[:index].lower().encode("utf-8"))


class AccurateRecogniser:
    """Recognition with some or all levers of the accurate profile, for one
    release file; immutable and shared by threads."""

    def __init__(self, release_path: str, levers: Levers = ACCURATE) -> None:
        self.levers = levers
        self.matcher = corvanta.Corvanta(
            derived_release_path(release_path, levers.outside_subtree)
            if levers.labels_cluster or levers.outside_subtree else release_path)
        self.graph = ReleaseGraph(release_path)
        self.vocabulary = Vocabulary(s for t in self.graph.descendants(PHENOTYPE_ROOT)
                                     for s in self.graph.surfaces.get(t, ()))
        self.categories = {term: name for root, name in OUTSIDE_ROOTS.items()
                           for term in self.graph.descendants(root)} if levers.outside_subtree else {}

    def hits(self, text: str, longest: bool = False) -> list[AccurateHit]:
        """The hits of `text`, ordered by start; with `longest`, none whose
        span lies inside a longer hit's, as `map_text_longest`."""
        rendered = self.matcher.map_text_json(_items_separated(text))
        if text.isascii():
            hits, starts = self.ascii_hits(text, rendered)
        else:
            found = decoded_hits(rendered)
            offsets = CharOffsets(text)
            hits = self._mapped_hits(text, found, offsets)
            starts = [s[0] for s in (offsets.char_span(h.span) for h in found) if s]
        variants = self._variants(text, starts)
        new = self.new_hits(text, hits, variants) if variants else []
        if new:  # the first pass's hits come ordered by start
            hits += new
            hits.sort(key=_start)
        if self.levers.most_specific:
            hits = [hits[k] for k in most_specific(hits, self.graph.ancestors)]
        return longest_only(hits) if longest else hits

    def ascii_hits(self, text: str, rendered: str) -> tuple[list[AccurateHit], list[int]]:
        """The hits of the first pass over the ASCII `text`, whose byte spans
        are its str spans, from the derived release's `map_text_json` of it
        (`rendered`); and the starts of all its hits, the one-word check's
        included. The costliest loop of the profile: compiled where the
        toolkit was built, `python_ascii_hits` otherwise."""
        if compiled_ascii_hits is not None:
            return compiled_ascii_hits(text, rendered, self.levers.one_word_hits_checked,
                                       kept_one_word, self.categories, PHENOTYPE, AccurateHit)
        return self.python_ascii_hits(text, rendered)

    def python_ascii_hits(self, text: str, rendered: str) -> tuple[list[AccurateHit], list[int]]:
        """`ascii_hits` in Python: one comprehension."""
        found = decoded_hits(rendered)
        check = self.levers.one_word_hits_checked
        categories = self.categories
        original, kept, make = original_surface, kept_one_word, _make_hit
        return [make(AccurateHit, (span, span, hit.term_id, label, hit.excluded, covered,
                                   categories.get(hit.term_id, PHENOTYPE) if categories
                                   else PHENOTYPE))
                for hit in found
                for span in (hit.span,)
                for covered in (text[span[0]:span[1]],)
                for label in (original(hit.label),)
                if not (check and covered.isalnum() and not kept(covered, label))], [
                    hit.span[0] for hit in found]

    def _mapped_hits(self, text: str, found: list[JsonHit],
                     offsets: CharOffsets) -> list[AccurateHit]:
        """The hits of the first pass over `text`, spans mapped to str indices."""
        check = self.levers.one_word_hits_checked
        hits = []
        for hit in found:
            chars = offsets.char_span(hit.span)
            covered = offsets.matched_text(hit.span)
            label = original_surface(hit.label)
            if check and covered.isalnum() and not kept_one_word(covered, label):
                continue
            hits.append(_make_hit(AccurateHit, (hit.span, chars, hit.term_id, label, hit.excluded,
                                                covered, self.categories.get(hit.term_id,
                                                                             PHENOTYPE))))
        return hits

    def new_hits(self, text: str, hits: list[AccurateHit],
                 variants: list[Segments]) -> list[AccurateHit]:
        """The hits of `variants` of `text` whose term no hit of `hits` at an
        overlapping place has: compiled for an ASCII text where the toolkit
        was built, `python_new_hits` otherwise."""
        if compiled_ascii_variant_hits is not None and text.isascii():
            return compiled_ascii_variant_hits(self.matcher, text, variants, hits, self.categories,
                                               PHENOTYPE, AccurateHit)
        return self.python_new_hits(text, hits, variants)

    def python_new_hits(self, text: str, hits: list[AccurateHit],
                        variants: list[Segments]) -> list[AccurateHit]:
        """`new_hits` in Python."""
        return _new_hits(text, hits, variant_hits(self.matcher, text, variants), self.categories)

    def _variants(self, text: str, starts: list[int]) -> list[Segments]:
        variants: list[Segments] = []
        if self.levers.coordination and starts:
            variants += coordination_variants(text, self.vocabulary, starts)
        if self.levers.predicative:
            variants += predicative_variants(text, self.vocabulary)
        return variants


def longest_only(hits: list[AccurateHit]) -> list[AccurateHit]:
    """The hits (in start order) whose span no other hit's strictly contains."""
    widest = sorted(range(len(hits)), key=lambda k: (hits[k].byte_span[0], -hits[k].byte_span[1]))
    inside = set()
    reach = -1
    reached: tuple[int, int] = (-1, -1)
    for k in widest:
        span = hits[k].byte_span
        if span[1] <= reach and span != reached:
            inside.add(k)
        elif span[1] > reach:
            reach, reached = span[1], span
    return [hit for k, hit in enumerate(hits) if k not in inside]


def _new_hits(text: str, hits: list[AccurateHit], found: Iterable[VariantHit],
              categories: dict[str, str]) -> list[AccurateHit]:
    """The variant hits whose term no hit at an overlapping place has already."""
    by_term: dict[str, list[tuple[int, int]]] = {}
    for hit in hits:
        if hit.char_span is not None:
            by_term.setdefault(hit.term_id, []).append(hit.char_span)
    new = []
    for variant in found:
        start, end = variant.char_span
        places = by_term.setdefault(variant.term_id, [])
        if any(s < end and start < e for s, e in places):
            continue
        places.append(variant.char_span)
        byte_span = (_lowered_offset(text, start), _lowered_offset(text, end))
        new.append(AccurateHit(byte_span, variant.char_span, variant.term_id,
                               original_surface(variant.label), variant.excluded,
                               text[start:end], categories.get(variant.term_id, PHENOTYPE)))
    return new


_building = threading.Lock()


def accurate_recogniser(release_path: str, levers: Levers = ACCURATE) -> AccurateRecogniser:
    """The recogniser for `release_path`, built once per process and levers."""
    with _building:
        return _built(release_path, levers)


@functools.lru_cache(maxsize=8)
def _built(release_path: str, levers: Levers) -> AccurateRecogniser:
    return AccurateRecogniser(release_path, levers)

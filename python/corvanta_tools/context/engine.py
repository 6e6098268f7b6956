"""The ConText algorithm over a text and the spans of its mentions.

Per text: the sentence ends, once; then, in each run of sentences that holds
a mention, the lexicon's phrases, once. A trigger's scope runs from the trigger in its direction up to the
first of: a sentence end, a terminator of its category, another trigger of
its category that reaches the same way, and the end of its window. A mention
is modified when it overlaps a scope; phrases that lie inside a mention are
part of the concept's name ("absent speech") and act on nothing.
"""
from __future__ import annotations

import bisect
import itertools
import re
from collections.abc import Sequence
from typing import NamedTuple

from corvanta_tools.assertion import CATEGORIES, UNMODIFIED, Assertion, Modifier
from corvanta_tools.context.lexicon import PSEUDO, TERMINATE, Lexicon, Rule, default_lexicon
from corvanta_tools.context.sentences import sentence_ends

__all__ = ["assertions"]

_WORD = re.compile(r"\w+")
_SENTENCE_END = Rule("", TERMINATE, ends=frozenset(CATEGORIES))


class _Phrase(NamedTuple):
    start: int
    end: int
    rule: Rule


def assertions(text: str, char_spans: Sequence[tuple[int, int]],
               lexicon: Lexicon | None = None) -> list[Assertion]:
    """The ConText attributes of each mention of `text`, given as str indices
    (start, end), in the order given."""
    if not char_spans:
        return []
    lexicon = lexicon or default_lexicon()
    lowered = text.lower()
    if len(lowered) == len(text):
        searched, pattern = lowered, lexicon.lowered
    else:
        searched, pattern = text, lexicon.folding
    ends = sentence_ends(text)
    result = [UNMODIFIED] * len(char_spans)
    for first, last, indices in _runs(ends, len(text), char_spans):
        spans = [char_spans[i] for i in indices]
        starts = [start for start, _ in spans]
        longest = max(end - start for start, end in spans)
        phrases = _phrases(pattern, lexicon, searched, first, last, ends, spans, starts, longest)
        modifiers: list[list[_Phrase]] = [[] for _ in spans]
        for k, phrase in enumerate(phrases):
            if phrase.rule.category not in CATEGORIES:
                continue
            for start, end in _scopes(searched, phrases, k, first, last):
                # The mentions that overlap [start, end): they start before
                # its end, and at most the longest mention's length before
                # its start.
                for i in range(bisect.bisect_right(starts, start - longest),
                               bisect.bisect_left(starts, end)):
                    if spans[i][1] > start:
                        modifiers[i].append(phrase)
        for i, found in zip(indices, modifiers):
            if found:
                result[i] = _assertion(text, found)
    return result


def _runs(ends: list[int], length: int,
          spans: Sequence[tuple[int, int]]) -> list[tuple[int, int, list[int]]]:
    """Runs of sentences that hold mentions, from the first sentence of a
    mention to the last, overlapping runs merged, each with the indices of
    its mentions in order of their spans."""
    runs: list[tuple[int, int, list[int]]] = []
    for i in sorted(range(len(spans)), key=spans.__getitem__):
        start, end = spans[i]
        before = bisect.bisect_left(ends, start)
        first = ends[before - 1] + 1 if before else 0
        after = bisect.bisect_left(ends, max(start, end - 1))
        last = ends[after] if after < len(ends) else length
        if runs and first <= runs[-1][1]:
            begin, stop, indices = runs[-1]
            indices.append(i)
            if last > stop:
                runs[-1] = (begin, last, indices)
        else:
            runs.append((first, last, [i]))
    return runs


def _phrases(pattern: re.Pattern[str], lexicon: Lexicon, searched: str, first: int, last: int,
             ends: list[int], spans: list[tuple[int, int]], starts: list[int],
             longest: int) -> list[_Phrase]:
    """The triggers and terminators of one run in order, the sentence ends
    inside it as terminators; pseudo-triggers and phrases inside a mention
    left out (`spans` in order of their `starts`, none longer than `longest`)."""
    rules = lexicon.rules
    found = []
    for match in pattern.finditer(searched, first, last):
        matched = match.group()
        phrase_rules = rules.get(matched) or lexicon.rules_of(matched)
        if phrase_rules[0].category == PSEUDO:
            continue
        start, end = match.span()
        if any(spans[i][1] > start for i in range(bisect.bisect_right(starts, start - longest),
                                                  bisect.bisect_left(starts, end))):
            continue
        found.extend(_Phrase(start, end, rule) for rule in phrase_rules)
    inner = ends[bisect.bisect_right(ends, first):bisect.bisect_left(ends, last)]
    if inner:
        found.extend(_Phrase(at, at + 1, _SENTENCE_END) for at in inner)
        found.sort()
    return found


def _ends_scope(phrase: _Phrase, trigger: Rule, forward: bool) -> bool:
    rule = phrase.rule
    if rule.category == TERMINATE:
        return trigger.category in rule.ends
    return rule.category == trigger.category and (rule.forward if forward else rule.backward)


def _scopes(searched: str, phrases: list[_Phrase], k: int, first: int,
            last: int) -> list[tuple[int, int]]:
    """The scopes (start, end) of phrase `k`, a trigger of the run from
    `first` to `last`: one per direction it reaches."""
    trigger = phrases[k]
    rule = trigger.rule
    scopes = []
    if rule.forward:
        end = next((phrases[j].start for j in range(k + 1, len(phrases))
                    if _ends_scope(phrases[j], rule, True)), last)
        if rule.window is not None:
            words = list(itertools.islice(_WORD.finditer(searched, trigger.end, end), rule.window))
            end = words[-1].end() if len(words) == rule.window else end
        scopes.append((trigger.end, end))
    if rule.backward:
        start = next((phrases[j].end for j in range(k - 1, -1, -1)
                      if _ends_scope(phrases[j], rule, False)), first)
        if rule.window is not None:
            words = [w.start() for w in _WORD.finditer(searched, start, trigger.start)]
            start = words[-rule.window] if len(words) >= rule.window else start
        scopes.append((start, trigger.start))
    return scopes


def _assertion(text: str, triggers: list[_Phrase]) -> Assertion:
    categories = {trigger.rule.category for trigger in triggers}
    return Assertion(*(category in categories for category in CATEGORIES),
                     modifiers=tuple(Modifier(t.rule.category, text[t.start:t.end], (t.start, t.end))
                                     for t in triggers))

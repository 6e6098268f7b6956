"""The ConText algorithm over a text and the spans of its mentions.

Per text: the sentence ends, once; then, in each run of sentences that holds
a mention, the phrases of the lexicon, once. A trigger's scope runs from the
trigger in its direction up to the first of: the sentence end, a terminator
of its category, another trigger of its category that reaches the same way,
and the end of its window. A mention is modified when it overlaps a scope;
triggers and terminators that lie inside a mention are part of the concept's
name ("absent speech") and act on nothing.
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


class _Scope(NamedTuple):
    start: int
    end: int
    trigger: _Phrase


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
        phrases = _phrases(pattern, lexicon, searched, first, last, ends,
                           [char_spans[i] for i in indices])
        scopes = [_scope(searched, phrases, k, first, last)
                  for k, phrase in enumerate(phrases) if phrase.rule.category in CATEGORIES]
        if scopes:
            for i in indices:
                result[i] = _assertion(text, char_spans[i], scopes)
    return result


def _runs(ends: list[int], length: int,
          spans: Sequence[tuple[int, int]]) -> list[tuple[int, int, list[int]]]:
    """Runs of sentences that hold mentions: each mention's sentences from its
    start to its end, overlapping runs merged, with the mentions' indices."""
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
            runs[-1] = (begin, max(stop, last), indices)
        else:
            runs.append((first, last, [i]))
    return runs


def _phrases(pattern: re.Pattern[str], lexicon: Lexicon, searched: str, first: int, last: int,
             ends: list[int], spans: list[tuple[int, int]]) -> list[_Phrase]:
    """The triggers and terminators of one run in order, the sentence ends
    inside it as terminators; pseudo-triggers and phrases inside a mention
    dropped."""
    found = []
    rules = lexicon.rules
    for match in pattern.finditer(searched, first, last):
        matched = match.group()
        found_rules = rules.get(matched) or lexicon.rules_of(matched)
        if found_rules[0].category == PSEUDO:
            continue
        start, end = match.span()
        if not any(s < end and start < e for s, e in spans):
            found.extend(_Phrase(start, end, rule) for rule in found_rules)
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


def _scope(searched: str, phrases: list[_Phrase], k: int, first: int, last: int) -> list[_Scope]:
    """The scopes of trigger `k` of a run: one per direction it reaches."""
    trigger = phrases[k]
    rule = trigger.rule
    scopes = []
    if rule.forward:
        end = next((p.start for p in phrases[k + 1:] if _ends_scope(p, rule, True)), last)
        if rule.window is not None:
            words = list(itertools.islice(_WORD.finditer(searched, trigger.end, end), rule.window))
            end = words[-1].end() if len(words) == rule.window else end
        scopes.append(_Scope(trigger.end, end, trigger))
    if rule.backward:
        start = next((p.end for p in reversed(phrases[:k]) if _ends_scope(p, rule, False)), first)
        if rule.window is not None:
            words = [w.start() for w in _WORD.finditer(searched, start, trigger.start)]
            start = words[-rule.window] if len(words) >= rule.window else start
        scopes.append(_Scope(start, trigger.start, trigger))
    return scopes


def _assertion(text: str, span: tuple[int, int], scopes: list[list[_Scope]]) -> Assertion:
    start, end = span
    modifiers = [scope.trigger for directions in scopes for scope in directions
                 if start < scope.end and scope.start < end]
    if not modifiers:
        return UNMODIFIED
    categories = {trigger.rule.category for trigger in modifiers}
    return Assertion(*(category in categories for category in CATEGORIES),
                     modifiers=tuple(Modifier(t.rule.category, text[t.start:t.end], (t.start, t.end))
                                     for t in modifiers))

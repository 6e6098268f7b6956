"""The ConText algorithm over a text and the spans of its mentions.

Per text: the lexicon's phrases, in one search (compiled, by
corvanta_tools._context, where the toolkit was built; else one regular
expression); then, only when the text holds a trigger, its sentence ends. A
trigger's scope runs from the trigger in its direction up to the first of: a
sentence end, a terminator of its category, another trigger of its category
that reaches the same way, and the end of its window. A mention is modified
when it overlaps a scope; phrases that lie inside a mention are part of the
concept's name ("absent speech") and act on nothing.
"""
from __future__ import annotations

import bisect
import itertools
import re
from collections.abc import Iterator, Sequence
from typing import NamedTuple

from corvanta_tools.records import CATEGORIES, UNMODIFIED, Assertion, Modifier
from corvanta_tools.context.lexicon import PSEUDO, TERMINATE, Lexicon, Rule, default_lexicon
from corvanta_tools.context.sentences import sentence_ends

__all__ = ["assertions"]

try:
    from corvanta_tools._context import scan
except ImportError:  # a source tree on the path without the toolkit's compiled helper
    scan = None  # type: ignore[assignment]

_WORD = re.compile(r"\w+")


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
    folding = len(lowered) != len(text)
    searched = text if folding else lowered
    order = sorted(range(len(char_spans)), key=char_spans.__getitem__)
    spans = [char_spans[i] for i in order]
    starts = [start for start, _ in spans]
    longest = max(end - start for start, end in spans)
    phrases = _phrases(lexicon, searched, folding, spans, starts)
    result = [UNMODIFIED] * len(char_spans)
    if not phrases:
        return result
    ends = sentence_ends(text)
    modifiers: dict[int, list[_Phrase]] = {}
    for k, phrase in enumerate(phrases):
        if phrase.rule.category not in CATEGORIES:
            continue
        for start, end in _scopes(searched, phrases, k, ends):
            # The mentions that overlap [start, end): they start before its
            # end, and at most the longest mention's length before its start.
            for i in range(bisect.bisect_right(starts, start - longest),
                           bisect.bisect_left(starts, end)):
                if spans[i][1] > start:
                    modifiers.setdefault(i, []).append(phrase)
    for i, found in modifiers.items():
        result[order[i]] = _assertion(text, found)
    return result


def _phrases(lexicon: Lexicon, searched: str, folding: bool,
             spans: list[tuple[int, int]], starts: list[int]) -> list[_Phrase]:
    """The triggers and terminators of the text in order, pseudo-triggers and
    phrases inside a mention left out (`spans` in order of their `starts`);
    none when the text holds no trigger."""
    # reach[i]: the furthest end of spans[0..i]; a phrase lies in a mention
    # when one that starts before the phrase's end reaches past its start.
    reach = list(itertools.accumulate((end for _, end in spans), max))
    found: list[_Phrase] = []
    triggers = False
    for start, end, phrase_rules in _found(lexicon, searched, folding):
        category = phrase_rules[0].category
        if category == PSEUDO:
            continue
        before = bisect.bisect_left(starts, end)
        if before and reach[before - 1] > start:
            continue
        triggers = triggers or category in CATEGORIES
        found.extend(_Phrase(start, end, rule) for rule in phrase_rules)
    return found if triggers else []


def _found(lexicon: Lexicon, searched: str,
           folding: bool) -> Iterator[tuple[int, int, tuple[Rule, ...]]]:
    """Each phrase of the lexicon in the text: start, end and its rules. The
    compiled search reads lower-cased text; the expression does the rest."""
    if scan is not None and not folding:
        found = scan(searched, lexicon.table)
        phrases = lexicon.phrases
        for k in range(0, len(found), 3):
            yield found[k], found[k + 1], phrases[found[k + 2]]
        return
    rules = lexicon.rules
    for match in lexicon.pattern(folding).finditer(searched):
        matched = match.group()
        yield match.start(), match.end(), rules.get(matched) or lexicon.rules_of(matched)


def _ends_scope(phrase: _Phrase, trigger: Rule, forward: bool) -> bool:
    rule = phrase.rule
    if rule.category == TERMINATE:
        return trigger.category in rule.ends
    return rule.category == trigger.category and (rule.forward if forward else rule.backward)


def _scopes(searched: str, phrases: list[_Phrase], k: int,
            ends: list[int]) -> list[tuple[int, int]]:
    """The scopes (start, end) of phrase `k`, a trigger: one per direction it
    reaches, within its sentence (`ends`: the indices of sentence ends)."""
    trigger = phrases[k]
    rule = trigger.rule
    scopes = []
    if rule.forward:
        after = bisect.bisect_left(ends, trigger.end)
        end = ends[after] if after < len(ends) else len(searched)
        for j in range(k + 1, len(phrases)):
            if phrases[j].start >= end or _ends_scope(phrases[j], rule, True):
                end = min(end, phrases[j].start)
                break
        if rule.window is not None:
            reached = list(itertools.islice(_WORD.finditer(searched, trigger.end, end), rule.window))
            end = reached[-1].end() if len(reached) == rule.window else end
        scopes.append((trigger.end, end))
    if rule.backward:
        before = bisect.bisect_left(ends, trigger.start)
        start = ends[before - 1] + 1 if before else 0
        for j in range(k - 1, -1, -1):
            if phrases[j].end <= start or _ends_scope(phrases[j], rule, False):
                start = max(start, phrases[j].end)
                break
        if rule.window is not None:
            words = [w.start() for w in _WORD.finditer(searched, start, trigger.start)]
            start = words[-rule.window] if len(words) >= rule.window else start
        scopes.append((start, trigger.start))
    return scopes


def _assertion(text: str, triggers: list[_Phrase]) -> Assertion:
    categories = {trigger.rule.category for trigger in triggers}
    return Assertion(**{field: category in categories for category, field in CATEGORIES.items()},
                     modifiers=tuple(Modifier(t.rule.category, text[t.start:t.end], (t.start, t.end))
                                     for t in triggers))

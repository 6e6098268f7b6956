"""The trigger lexicon: the rules of rules.tsv, and one compiled pattern that
finds every phrase of them in a text at once."""
from __future__ import annotations

import functools
import re
from array import array
from collections.abc import Iterable
from dataclasses import dataclass
from importlib import resources

from corvanta_tools.fields import CATEGORIES

__all__ = ["DIRECTIONS", "PSEUDO", "TERMINATE", "Lexicon", "Rule", "default_lexicon", "read_rules"]

PSEUDO = "PSEUDO"
TERMINATE = "TERMINATE"
DIRECTIONS = ("forward", "backward", "both")
_HEADER = ("phrase", "category", "direction", "window", "comment")
_HEADER_LINE = "\t".join(_HEADER)
# How a character of a phrase may be written in a text: a space as any white
# space, an apostrophe also typographic.
_SPELLINGS = {" ": r"\s+", "'": "['\u2019]"}
_TYPOGRAPHIC = str.maketrans("\u2019", "'")


@dataclass(frozen=True, slots=True)
class Rule:
    """One line of the table. A trigger has a ConText category and a
    direction; a terminator lists the categories whose scopes it ends; a
    pseudo-trigger has neither (it only hides the triggers inside it).
    `window` is the most words a trigger's scope reaches (None: the sentence)."""

    phrase: str
    category: str
    direction: str = "-"
    window: int | None = None
    ends: frozenset[str] = frozenset()

    @property
    def forward(self) -> bool:
        return self.direction in ("forward", "both")

    @property
    def backward(self) -> bool:
        return self.direction in ("backward", "both")


def _rule(fields: list[str], where: str) -> Rule:
    if len(fields) < 4:
        raise ValueError(f"{where}: expected phrase, category, direction, window[, comment]")
    phrase, category, direction, window = (field.strip() for field in fields[:4])
    if not phrase or phrase != " ".join(phrase.lower().split()):
        raise ValueError(f"{where}: the phrase {phrase!r} must be lower case, single-spaced")
    window_words = None if window == "-" else int(window)
    if window_words is not None and window_words < 1:
        raise ValueError(f"{where}: a window counts at least one word")
    if category in CATEGORIES:
        if direction not in DIRECTIONS:
            raise ValueError(f"{where}: a trigger's direction is one of {', '.join(DIRECTIONS)}")
        return Rule(phrase, category, direction, window_words)
    kind, _, ended = category.partition(":")
    if category != PSEUDO and not (kind == TERMINATE and (not ended or ended in CATEGORIES)):
        raise ValueError(f"{where}: unknown category {category!r}")
    if direction != "-" or window_words is not None:
        raise ValueError(f"{where}: only a trigger has a direction and a window")
    if category == PSEUDO:
        return Rule(phrase, PSEUDO)
    return Rule(phrase, TERMINATE, ends=frozenset([ended] if ended else CATEGORIES))


def read_rules(lines: Iterable[str], source: str = "rules") -> list[Rule]:
    """The rules of a table: tab-separated lines, a header line, lines
    starting with "#" and blank lines skipped. A phrase has one rule, or two
    when one trigger reaches forward and another backward (each with its own
    window)."""
    rules: list[Rule] = []
    seen: dict[str, Rule] = {}
    header = False
    for number, line in enumerate(lines, 1):
        if not line.strip() or line.startswith("#"):
            continue
        fields = line.rstrip("\n").split("\t")
        if not header:
            if tuple(fields) != _HEADER:
                raise ValueError(f"{source}:{number}: expected the header line {_HEADER_LINE!r}")
            header = True
            continue
        rule = _rule(fields, f"{source}:{number}")
        before = seen.get(rule.phrase)
        if before is not None and {before.direction, rule.direction} != {"forward", "backward"}:
            raise ValueError(f"{source}:{number}: {rule.phrase!r} has a rule already")
        seen[rule.phrase] = rule
        rules.append(rule)
    return rules


def _trie_pattern(phrases: Iterable[str]) -> str:
    """One regular expression for all phrases, shaped as their prefix tree so
    that a position is tried against one branch per character instead of
    every phrase; a space stands for any run of white space. At each
    position the longest phrase wins (optional tails are greedy)."""
    trie: dict[str, dict] = {}  # type: ignore[type-arg]
    for phrase in phrases:
        node = trie
        for char in phrase:
            node = node.setdefault(char, {})
        node[""] = {}
    return _node_pattern(trie)


def _node_pattern(node: dict[str, dict]) -> str:  # type: ignore[type-arg]
    branches = [_SPELLINGS.get(char, re.escape(char)) + _node_pattern(child)
                for char, child in sorted(node.items()) if char]
    if not branches:
        return ""
    body = branches[0] if len(branches) == 1 else "(?:" + "|".join(branches) + ")"
    if "" in node:
        return f"(?:{body})?"
    return body


def _tree_table(phrases: Iterable[str]) -> bytes:
    """The prefix tree of the phrases as the compiled search reads it (see
    src/tools/context_scan.cpp): node and edge counts, each node's phrase
    number (-1: none), its first edge, then the edges' labels (a character,
    -1 for white space) and children."""
    ending: list[int] = [-1]
    edges: list[dict[int, int]] = [{}]
    for number, phrase in enumerate(phrases):
        node = 0
        for char in phrase:
            label = -1 if char == " " else ord(char)
            if label not in edges[node]:
                edges[node][label] = len(ending)
                ending.append(-1)
                edges.append({})
            node = edges[node][label]
        ending[node] = number
    first = [0]
    labels: list[int] = []
    children: list[int] = []
    for node_edges in edges:
        for label, child in sorted(node_edges.items()):
            labels.append(label)
            children.append(child)
        first.append(len(labels))
    return array("i", [len(ending), len(labels), *ending, *first, *labels, *children]).tobytes()


class Lexicon:
    """The rules of each phrase, the phrases by number and their prefix tree
    as the compiled search reads it (`table`), and the regular expressions
    that find them where that search is not built or cannot serve."""

    __slots__ = ("rules", "phrases", "table", "_patterns")

    def __init__(self, rules: Iterable[Rule]) -> None:
        self.rules: dict[str, tuple[Rule, ...]] = {}
        for rule in rules:
            self.rules[rule.phrase] = (*self.rules.get(rule.phrase, ()), rule)
        self.phrases = list(self.rules.values())
        self.table = _tree_table(self.rules)
        # Compiling the expression takes longer than annotating a note, so
        # it waits until a text needs it.
        self._patterns: dict[bool, re.Pattern[str]] = {}

    def pattern(self, folding: bool = False) -> re.Pattern[str]:
        """The expression for a lower-cased text, or (`folding`) for the text
        itself, for the rare text whose lower-casing changes its length."""
        compiled = self._patterns.get(folding)
        if compiled is None:
            body = _trie_pattern(self.rules)
            compiled = re.compile(rf"\b{body}(?!\w)", re.IGNORECASE if folding else 0)
            self._patterns[folding] = compiled
        return compiled

    def rules_of(self, matched: str) -> tuple[Rule, ...]:
        """The rules of a phrase as matched (any case, any white space)."""
        return self.rules[" ".join(matched.lower().translate(_TYPOGRAPHIC).split())]


@functools.lru_cache(maxsize=1)
def default_lexicon() -> Lexicon:
    """The lexicon of the table that ships with the package."""
    table = resources.files(__package__).joinpath("rules.tsv")
    with table.open(encoding="utf-8") as lines:
        return Lexicon(read_rules(lines, "rules.tsv"))

"""medspaCy's ConText, with its token-pattern rules matched as phrases.

medspaCy matches most of its ConText rules with spaCy's token `Matcher`,
which tests every pattern's first token against every token of the text:
about 2 s per million characters, three quarters of a clinical pipeline's
time. Nearly all of those patterns only ask for lower-cased words (`LOWER`
equal to a word or in a list, optionally with `"OP": "?"`), so each is a
finite set of word sequences, and spaCy's `PhraseMatcher` finds those in one
hash lookup per token. `ExpandedRuleMatcher` matches those and the plain
phrases in one lower-case PhraseMatcher and leaves every other rule (any
other attribute or operator, regular expressions) to medspaCy's matcher; overlapping matches are then pruned exactly as
medspaCy prunes them. The algorithm after matching (scopes, terminations,
attributes, `Span._.modifiers`) is medspaCy's, untouched:
`benchmarks/assertion_speed.py` checks that both give the same modifiers on
every abstract of two corpora.

Its factory `"corvanta_context"` (corvanta_tools.spacy.context_factory)
takes the configuration of `"medspacy_context"`.

medspaCy writes a `Span._.modifiers` entry as a plain mapping that its own
decoder does not recognize, so modifiers came back from worker processes as
dicts; `_modifier` turns them back into ConText modifiers.
"""
# No `from __future__ import annotations`: spaCy validates factory settings
# against the evaluated annotations.

import itertools
from collections.abc import Callable, Iterable
from typing import Any, Optional

import srsly  # type: ignore[import-untyped]
from medspacy.common.medspacy_matcher import MedspacyMatcher  # type: ignore[import-untyped, import-not-found, unused-ignore]
from medspacy.common.util import prune_overlapping_matches  # type: ignore[import-untyped, import-not-found, unused-ignore]
from medspacy.context import (ConText, ConTextModifier,  # type: ignore[import-untyped, import-not-found, unused-ignore]
                              ConTextRule)
from spacy.language import Language
from spacy.matcher import PhraseMatcher
from spacy.tokens import Doc

__all__ = ["ExpandedRuleMatcher", "FastConText", "word_sequences"]

# Above this many word sequences a rule stays with the token matcher.
MAX_SEQUENCES = 4096
_MODIFIER_KEYS = frozenset({"context_rule", "start", "end", "max_scope", "scope_start",
                            "scope_end"})


@srsly.msgpack_decoders("corvanta_context_modifier")  # type: ignore[untyped-decorator]
def _modifier(obj: Any, chain: Optional[Callable[[Any], Any]] = None) -> Any:
    if isinstance(obj, dict) and obj.keys() == _MODIFIER_KEYS:
        return ConTextModifier.from_serialized_representation(obj)
    return obj if chain is None else chain(obj)


def _token_choices(token: dict[str, Any]) -> list[tuple[str, ...]] | None:
    """The word sequences one token pattern stands for ((): absent), or None
    when it asks for more than a lower-cased word."""
    if set(token) - {"LOWER", "OP"}:
        return None
    value, op = token.get("LOWER"), token.get("OP", "1")
    if isinstance(value, str):
        words = [value]
    elif isinstance(value, dict) and set(value) == {"IN"} and isinstance(value["IN"], list):
        words = list(dict.fromkeys(value["IN"]))
    else:
        return None
    if not all(isinstance(word, str) for word in words) or op not in ("1", "?"):
        return None
    return [(word,) for word in words] + ([()] if op == "?" else [])


def word_sequences(pattern: object) -> list[tuple[str, ...]] | None:
    """Every sequence of lower-cased words a token pattern matches, or None
    when the pattern is not such a finite set."""
    if not isinstance(pattern, list) or not pattern:
        return None
    choices = [_token_choices(token) if isinstance(token, dict) else None for token in pattern]
    if any(choice is None for choice in choices):
        return None
    count = 1
    for choice in choices:
        assert choice is not None
        count *= len(choice)
    if count > MAX_SEQUENCES:
        return None
    sequences = [tuple(itertools.chain.from_iterable(parts))
                 for parts in itertools.product(*choices)]  # type: ignore[arg-type]
    return [sequence for sequence in dict.fromkeys(sequences) if sequence]


class ExpandedRuleMatcher(MedspacyMatcher):  # type: ignore[misc]
    """medspaCy's rule matcher, with word-sequence patterns in a PhraseMatcher."""

    def __init__(self, nlp: Language, name: str = "medspacy_matcher",
                 phrase_matcher_attr: str = "LOWER", prune: bool = True) -> None:
        super().__init__(nlp, name=name, phrase_matcher_attr=phrase_matcher_attr, prune=False)
        self._prune_matches = prune
        self._vocab = nlp.vocab
        self._sequences = PhraseMatcher(nlp.vocab, attr="LOWER")
        self._expanded_count = 0
        self._tokenizer = nlp.tokenizer
        self._literals_lowered = phrase_matcher_attr.lower() == "lower"
        self._delegated = False  # whether medspaCy's matcher holds any rule

    def add(self, rules: Iterable[Any]) -> None:
        others = []
        for rule in rules:
            phrases = self._phrases(rule)
            if phrases is None:
                others.append(rule)
                continue
            rule_id = f"{rule.category}_words{self._expanded_count}"
            self._expanded_count += 1
            rule._rule_id = rule_id
            self._rule_map[rule_id] = rule
            self._labels.add(rule.category)
            self._sequences.add(rule_id, phrases, on_match=rule.on_match)
        if others:
            super().add(others)
            self._delegated = True

    def _phrases(self, rule: Any) -> list[Doc] | None:
        """The rule as phrases for the lower-case PhraseMatcher, or None."""
        if rule.pattern is None:  # a literal, tokenized as medspaCy does
            if not self._literals_lowered:
                return None
            return [self._tokenizer(rule.literal.lower())]
        sequences = word_sequences(rule.pattern)
        if sequences is None:
            return None
        return [Doc(self._vocab, words=list(words)) for words in sequences]

    def __call__(self, doc: Doc) -> list[tuple[int, int, int]]:
        matches: list[tuple[int, int, int]] = self._sequences(doc)
        if self._delegated:
            matches += super().__call__(doc)
        return prune_overlapping_matches(matches) if self._prune_matches else matches


class FastConText(ConText):  # type: ignore[misc]
    """medspaCy's ConText over an `ExpandedRuleMatcher`; same configuration,
    and `keep_graph`: False leaves `Doc._.context_graph` None. The graph holds
    Span objects, which Doc.to_bytes cannot write, so `nlp.pipe(n_process=N)`
    needs it off; every mention's `Span._.modifiers` is kept either way."""

    def __init__(self, nlp: Language, name: str = "corvanta_context", rules: str | None = "default",
                 language_code: str = "en", phrase_matcher_attr: str = "LOWER",
                 allowed_types: set[str] | None = None, excluded_types: set[str] | None = None,
                 terminating_types: dict[str, Iterable[str]] | None = None,
                 max_scope: int | None = None, max_targets: int | None = None,
                 prune_on_modifier_overlap: bool = True, prune_on_target_overlap: bool = False,
                 span_attrs: Any = "default", input_span_type: str = "ents",
                 span_group_name: str = "medspacy_spans", keep_graph: bool = True) -> None:
        super().__init__(nlp, name=name, rules=None, language_code=language_code,
                         phrase_matcher_attr=phrase_matcher_attr, allowed_types=allowed_types,
                         excluded_types=excluded_types, terminating_types=terminating_types,
                         max_scope=max_scope, max_targets=max_targets,
                         prune_on_modifier_overlap=prune_on_modifier_overlap,
                         prune_on_target_overlap=prune_on_target_overlap, span_attrs=span_attrs,
                         input_span_type=input_span_type, span_group_name=span_group_name)
        # ConText keeps its matcher in a private attribute; only the matcher differs.
        self._ConText__matcher = ExpandedRuleMatcher(
            nlp, name=name, phrase_matcher_attr=phrase_matcher_attr,
            prune=prune_on_modifier_overlap)
        self.keep_graph = keep_graph
        path = self.DEFAULT_RULES_FILEPATH if rules == "default" else rules
        if path:
            self.add(ConTextRule.from_json(path))

    def __call__(self, doc: Doc, targets: str | None = None) -> Doc:
        doc = super().__call__(doc, targets)
        if not self.keep_graph:
            doc._.context_graph = None
        return doc

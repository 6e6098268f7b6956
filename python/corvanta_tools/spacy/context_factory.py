"""The "corvanta_context" factory: medspaCy's ConText over phrase matching
(corvanta_tools.spacy.context), imported only when a pipeline uses it.

spaCy loads every registered factory's module whenever it builds a pipeline,
so this module must import without medspaCy: a spaCy without the [medspacy]
extra keeps working with the toolkit installed.
"""
# No `from __future__ import annotations`: spaCy validates factory settings
# against the evaluated annotations.
from collections.abc import Iterable
from typing import Any, Optional

from spacy.language import Language

__all__ = ["make_context"]


@Language.factory("corvanta_context", default_config={
    "rules": "default", "language_code": "en", "phrase_matcher_attr": "LOWER",
    "allowed_types": None, "excluded_types": None, "terminating_types": None, "max_scope": None,
    "max_targets": None, "prune_on_modifier_overlap": True, "prune_on_target_overlap": False,
    "span_attrs": "default", "input_span_type": "ents", "span_group_name": "medspacy_spans",
    "keep_graph": True})
def make_context(nlp: Language, name: str, rules: Optional[str], language_code: str,
                 phrase_matcher_attr: str, allowed_types: Optional[set[str]],
                 excluded_types: Optional[set[str]],
                 terminating_types: Optional[dict[str, Iterable[str]]], max_scope: Optional[int],
                 max_targets: Optional[int], prune_on_modifier_overlap: bool,
                 prune_on_target_overlap: bool, span_attrs: Any, input_span_type: str,
                 span_group_name: str, keep_graph: bool) -> Any:
    """medspaCy's ConText as corvanta_tools.spacy.context.FastConText ([medspacy] extra)."""
    from corvanta_tools.spacy.context import FastConText

    return FastConText(nlp, name, rules, language_code, phrase_matcher_attr, allowed_types,
                       excluded_types, terminating_types, max_scope, max_targets,
                       prune_on_modifier_overlap, prune_on_target_overlap, span_attrs,
                       input_span_type, span_group_name, keep_graph)

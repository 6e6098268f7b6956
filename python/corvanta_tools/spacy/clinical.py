"""The clinical pipeline ([medspacy] extra): medspaCy's tokenizer, a sentence
splitter, the "corvanta" component and medspaCy's ConText (optionally its
sectionizer). The "corvanta" component alone gives the toolkit's own ConText
(`span._.assertion`) on current spaCy.

    nlp = clinical_pipeline(release_path="hp.json")
    for ent in nlp("Mother has short stature. No ataxia.").ents:
        print(ent.kb_id_, ent._.is_family, ent._.is_negated, ent._.modifiers)

Nothing is downloaded: the tokenizer is medspaCy's rules over a blank English
vocabulary, and ConText and the sectionizer use the rules medspaCy ships.

ConText reads the span group of the "corvanta" component, so every hit (not
only those in `doc.ents`) gets the attributes `is_negated`, `is_uncertain`,
`is_historical`, `is_hypothetical`, `is_family` and `modifiers`; an entity
shares them with the hit of the same offsets. `Doc._.context_graph` is not
kept (it cannot cross process boundaries; see corvanta_tools.spacy.context).

The sentence splitter decides how far a trigger reaches. The default,
"library", follows the library's own sentence rule (line feed, "!", ".",
";"), is the fastest of the three and agrees with the library's negation on
where a sentence ends; "sentencizer" (spaCy's) and "pyrush" (medspaCy's
default) are the alternatives (`benchmarks/assertion_speed.py` compares them).
"""
from __future__ import annotations

import functools

import spacy
from loguru import logger  # type: ignore[import-not-found, unused-ignore]
from spacy.attrs import IS_SPACE, LOWER, NORM  # type: ignore[import-not-found]
from spacy.language import Language

import corvanta_tools.spacy.component  # noqa: F401  (registers "corvanta")
import corvanta_tools.spacy.context  # noqa: F401  (medspaCy, its serialization)
import corvanta_tools.spacy.context_factory  # noqa: F401  (registers "corvanta_context")
from corvanta_tools.spacy.sentences import SPLITTERS
from corvanta_tools.spacy.tokenizer import NAME as TOKENIZER

__all__ = ["assertion_pipeline", "clinical_pipeline", "context_pipeline"]


def _tokenized(sentences: str) -> Language:
    if sentences not in SPLITTERS:
        raise ValueError(f"unknown sentence splitter {sentences!r}: choose one of "
                         + ", ".join(sorted(SPLITTERS)))
    if sentences == "pyrush":
        logger.disable("PyRuSH")  # it logs every token at DEBUG level otherwise
    nlp = spacy.blank("en", config={"nlp": {"tokenizer": {"@tokenizers": TOKENIZER}}})
    nlp.add_pipe(SPLITTERS[sentences])
    return nlp


def context_pipeline(spans_key: str, sentences: str = "library",
                     sectionizer: bool = False) -> Language:
    """Tokenizer, sentence splitter and ConText over the span group
    `spans_key`, which the caller fills: the part of the clinical pipeline
    that does not recognize concepts."""
    nlp = _tokenized(sentences)
    _add_assertion_pipes(nlp, spans_key, sectionizer)
    return nlp


def clinical_pipeline(release_path: str | None = None, version: str | None = None, *,
                      longest: bool = True, sentences: str = "library", sectionizer: bool = False,
                      spans_key: str = "hpo") -> Language:
    """A spaCy pipeline that finds HPO concepts and their ConText assertion
    status. `release_path` is a release file, or `version` a version; `sentences`
    picks the splitter ("library", "sentencizer" or "pyrush"); `sectionizer`
    adds medspaCy's sectionizer, so mentions under "Family history:" count as
    family and those under "Past medical history:" as historical."""
    nlp = _tokenized(sentences)
    nlp.add_pipe("corvanta", config={"release_path": release_path, "version": version,
                                     "longest": longest, "spans_key": spans_key,
                                     "assertion": "library"})
    _add_assertion_pipes(nlp, spans_key, sectionizer)
    return nlp


def _add_assertion_pipes(nlp: Language, spans_key: str, sectionizer: bool) -> None:
    group = {"input_span_type": "group", "span_group_name": spans_key}
    if sectionizer:
        nlp.add_pipe("medspacy_sectionizer", config=group)
    nlp.add_pipe("corvanta_context", config={**group, "keep_graph": False})


@functools.cache
def assertion_pipeline(sentences: str = "library") -> Language:
    """The process's context pipeline for assertions of records (span group
    "corvanta_targets"). Its tokens carry only the lexical attributes ConText's
    rules read (the lower-cased form): computing the others for every new
    word costs a third of the tokenizer's time."""
    nlp = context_pipeline("corvanta_targets", sentences)
    kept = {LOWER, NORM, IS_SPACE, *(getattr(pipe, "flag", None) for _, pipe in nlp.pipeline)}
    getters = nlp.vocab.lex_attr_getters  # type: ignore[attr-defined]
    for attribute in set(getters) - kept:
        del getters[attribute]
    return nlp

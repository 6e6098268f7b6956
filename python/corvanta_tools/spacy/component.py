"""The "corvanta" pipeline component: HPO concepts as spaCy spans.

    nlp = spacy.blank("en")
    nlp.add_pipe("corvanta", config={"release_path": "hp.json"})
    doc = nlp("No evidence of seizures; short stature.")
    doc.spans["hpo"]   # every hit, nested clustering matches included unless longest
    doc.ents           # the longest non-overlapping hits, label "PHENOTYPE", kb_id_ the term id

Spans are token spans: a hit that starts or ends inside a token (the
tokenizer keeps "seizure-like" whole) covers the whole token; a hit whose
byte span has no character offsets (see corvanta_tools.offsets) is left out.

`profile` "accurate" recognises with corvanta_tools.accuracy instead of the
library's recognition as it is ("exact", the default).

Entities of earlier components are kept. Where one of them overlaps a hit,
the earlier entity wins and the hit stays only in the span group; with
`overwrite_ents` the hit wins and the overlapping entities are dropped.

Span extensions (for the spans this component writes; None on other spans):
`hpo_id` (the term id), `hpo_label` (the term's official label), `matched_label`
(the label or synonym that matched), `excluded` (the library's negation flag)
and `assertion` (a corvanta_tools.records.Assertion: negated, uncertain,
historical, hypothetical, family and the triggers, by the toolkit's own
ConText; None with `assertion = "library"`). medspaCy's ConText is the
clinical pipeline's (corvanta_tools.spacy.clinical_pipeline, [medspacy]).
They are read from the Doc's user data, keyed by offsets and term id, so two
hits with the same offsets and different terms keep their own values and the
values travel with `Doc.to_bytes` (and so through `nlp.pipe(n_process=...)`).
"""
# No `from __future__ import annotations`: spaCy validates factory settings
# against the evaluated annotations.

import functools
import json
import os
from collections.abc import Callable, Iterable, Sequence
from pathlib import Path
from typing import Any

from spacy.language import Language
from spacy.tokens import Doc, Span
from spacy.util import filter_spans

from corvanta_tools.accuracy.profiles import check_profile, levers_of
from corvanta_tools.accuracy.recogniser import accurate_recogniser
from corvanta_tools.records import Assertion, Modifier
from corvanta_tools.offsets import CharOffsets
from corvanta_tools.registry import matcher_and_release
from corvanta_tools.releases import resolve_release_path
from corvanta_tools.spacy.serialization import cache_msgpack_lookups
from corvanta_tools.spacy.tokenizer import text_of

__all__ = ["LABEL", "CorvantaComponent", "make_corvanta"]

LABEL = "PHENOTYPE"
_KEY = "corvanta"
_SAVED = "release.json"
# Positions in a hit's user-data entry.
_MATCHED_LABEL, _EXCLUDED, _HPO_LABEL, _ASSERTION = range(4)
ASSERTIONS = ("context", "library")


def _release_path(release_path: str | None, version: str | None) -> str:
    """The release file a component's `release_path` (a path) or `version` (a version
    or "latest") names, fetched into the cache directory when needed; neither:
    the release the package carries."""
    return os.path.realpath(resolve_release_path(release_path=release_path, version=version))


def _hit_value(position: int) -> Callable[[Span], Any]:
    def value(span: Span) -> Any:
        user_data: dict[Any, Any] = span.doc.user_data
        entry = user_data.get((_KEY, span.start_char, span.end_char, span.kb_id_))
        return None if entry is None else entry[position]
    return value


def _assertion(span: Span) -> Assertion | None:
    """The span's assertion, from the plain values its user-data entry holds
    (what Doc.to_bytes can write)."""
    stored = _hit_value(_ASSERTION)(span)
    if stored is None:
        return None
    negated, uncertain, historical, hypothetical, family, modifiers = stored
    return Assertion(negated, uncertain, historical, hypothetical, family, tuple(
        Modifier(category, text, (start, end)) for category, text, start, end in modifiers))


def _stored(assertion: Assertion | None) -> tuple[Any, ...] | None:
    if assertion is None:
        return None
    return (assertion.is_negated, assertion.is_uncertain, assertion.is_historical,
            assertion.is_hypothetical, assertion.is_family,
            [(m.category, m.text, *m.char_span) for m in assertion.modifiers])


def _hpo_id(span: Span) -> str | None:
    user_data: dict[Any, Any] = span.doc.user_data
    return span.kb_id_ if (_KEY, span.start_char, span.end_char, span.kb_id_) in user_data else None


def _register_extensions() -> None:
    getters = {"hpo_id": _hpo_id, "matched_label": _hit_value(_MATCHED_LABEL),
               "excluded": _hit_value(_EXCLUDED), "hpo_label": _hit_value(_HPO_LABEL),
               "assertion": _assertion}
    for name, getter in getters.items():
        Span.set_extension(name, getter=getter, force=True)


class CorvantaComponent:
    """Writes the hits of the release's matcher into each Doc (see the module
    docstring). The matcher and the release's labels are those of the process
    (corvanta_tools.registry), shared by every component built from the
    same release; pickling the component keeps only its settings."""

    def __init__(self, name: str = "corvanta", release_path: str | None = None,
                 version: str | None = None, longest: bool = True, spans_key: str = "hpo",
                 set_ents: bool = True, overwrite_ents: bool = False,
                 assertion: str = "context", profile: str = "exact") -> None:
        if assertion not in ASSERTIONS:
            raise ValueError(f"the corvanta component's assertion is one of {', '.join(ASSERTIONS)}, "
                             f"not {assertion!r} (medspaCy's ConText: clinical_pipeline)")
        self.name = name
        self.release_path = release_path
        self.version = version
        self.longest = longest
        self.spans_key = spans_key
        self.set_ents = set_ents
        self.overwrite_ents = overwrite_ents
        self.assertion = assertion
        self.profile = check_profile(profile)
        self.path: str | None = None
        # A relative `release_path` that names nothing here may be that of a pipeline
        # saved in another directory, being loaded: from_disk then gives the
        # path it saved (see to_disk).
        if release_path is None or os.path.isabs(release_path) or os.path.exists(release_path):
            self._use(_release_path(release_path, version))
        _register_extensions()
        cache_msgpack_lookups()

    def _use(self, path: str) -> None:
        self.path = path
        matcher, self._labels = matcher_and_release(path)
        # Both kinds of hit have .span (bytes), .term_id, .label and .excluded.
        self._recognize: Callable[[str], Sequence[Any]] = (
            (matcher.map_text_longest if self.longest else matcher.map_text)
            if self.profile == "exact" else
            functools.partial(accurate_recogniser(path, levers_of(self.profile)).hits,
                              longest=self.longest))

    def __reduce__(self) -> tuple[Any, ...]:
        release_path = self.release_path if self.release_path is None else self.path  # the same file from any directory
        return (_rebuilt, (self.name, release_path, self.version, self.longest, self.spans_key,
                           self.set_ents, self.overwrite_ents, self.assertion, self.profile))

    def to_disk(self, path: str | Path, exclude: Iterable[str] = ()) -> None:
        """Saves the absolute path of the release file with the pipeline: the
        configuration keeps `release_path` as given, which may be relative to the
        directory the pipeline was built in."""
        directory = Path(path)
        directory.mkdir(parents=True, exist_ok=True)
        (directory / _SAVED).write_text(json.dumps({"path": self.path}), encoding="utf-8")

    def from_disk(self, path: str | Path, exclude: Iterable[str] = ()) -> "CorvantaComponent":
        saved = Path(path) / _SAVED
        if saved.exists() and self.release_path is not None:
            stored = json.loads(saved.read_text(encoding="utf-8"))["path"]
            if stored != self.path and (self.path is None or os.path.exists(stored)):
                self._use(stored)
        return self

    def __call__(self, doc: Doc) -> Doc:
        spans = self.spans(doc)
        doc.spans[self.spans_key] = spans
        if self.set_ents:
            doc.ents = self._entities(doc.ents, filter_spans(spans))
        return doc

    def pipe(self, docs: Iterable[Doc], batch_size: int = 128) -> Iterable[Doc]:
        for doc in docs:
            yield self(doc)

    def spans(self, doc: Doc) -> list[Span]:
        """The hits of `doc.text` as spans, their extension values stored in the Doc."""
        if self.path is None:
            raise FileNotFoundError(f"the HPO release {self.release_path!r} does not exist")
        text = text_of(doc)
        offsets = CharOffsets(text)
        label_of = self._labels.label
        user_data: dict[Any, Any] = doc.user_data
        placed = []
        for hit in self._recognize(text):
            chars = offsets.char_span(hit.span)
            if chars is None:
                continue
            span = doc.char_span(chars[0], chars[1], label=LABEL, kb_id=hit.term_id,
                                 alignment_mode="expand")
            if span is not None:  # None: a hit inside the whitespace between tokens
                placed.append((hit, chars, span))
        assertions = self._assertions(text, [chars for _, chars, _ in placed])
        for (hit, _, span), assertion in zip(placed, assertions):
            term_id = hit.term_id
            user_data[(_KEY, span.start_char, span.end_char, term_id)] = (
                hit.label, hit.excluded, label_of(term_id), _stored(assertion))
        return [span for _, _, span in placed]

    def _assertions(self, text: str, char_spans: list[tuple[int, int]]) -> Sequence[Assertion | None]:
        if self.assertion == "library":
            return [None] * len(char_spans)
        from corvanta_tools.context import assertions

        return assertions(text, char_spans)

    def _entities(self, existing: Sequence[Span], ours: list[Span]) -> list[Span]:
        if not existing:
            return ours
        winners, others = (ours, existing) if self.overwrite_ents else (existing, ours)
        taken: set[int] = set()
        for span in winners:
            taken.update(range(span.start, span.end))
        kept = [span for span in others if taken.isdisjoint(range(span.start, span.end))]
        return sorted([*winners, *kept], key=lambda span: span.start)


def _rebuilt(name: str, release_path: str | None, version: str | None, longest: bool, spans_key: str,
             set_ents: bool, overwrite_ents: bool, assertion: str,
             profile: str = "exact") -> CorvantaComponent:
    return CorvantaComponent(name, release_path, version, longest, spans_key, set_ents, overwrite_ents,
                             assertion, profile)


@Language.factory("corvanta", default_config={
    "release_path": None, "version": None, "longest": True, "spans_key": "hpo", "set_ents": True,
    "overwrite_ents": False, "assertion": "context", "profile": "exact"})
def make_corvanta(nlp: Language, name: str, release_path: str | None, version: str | None, longest: bool,
                  spans_key: str, set_ents: bool, overwrite_ents: bool,
                  assertion: str, profile: str) -> CorvantaComponent:
    """The "corvanta" factory: `release_path` is a release file, or `version` a version
    ("latest", "2025-05-06"); neither: the default release. `assertion`:
    "context" (default) or "library"; `profile`: "exact" (default),
    "accurate", or "accurate" with switches ("accurate+most-specific":
    corvanta_tools.accuracy.profiles.PROFILES)."""
    return CorvantaComponent(name, release_path, version, longest, spans_key, set_ents, overwrite_ents,
                             assertion, profile)

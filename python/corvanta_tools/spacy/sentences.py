"""Sentence splitters for the clinical pipeline, and the library's own rule.

The library's negation reads a sentence as the text between two of the
delimiters line feed, "!", "." and ";". `"corvanta_sentences"` splits a Doc
the same way, on token boundaries: a token that contains a delimiter (or
whose trailing whitespace does) ends its sentence. A "." inside a token
("3.5", "e.g.") therefore ends the sentence after that token, where the
library's rule ends it at the "." itself.

`SPLITTERS` names the choices of `clinical_pipeline(sentences=...)`:
"library" (this rule), "sentencizer" (spaCy's rule-based one: ".", "!", "?"
and similar, not line feeds or ";") and "pyrush" (medspaCy's default,
PyRuSH's rules for clinical text).
"""
# No `from __future__ import annotations`: spaCy validates factory settings
# against the evaluated annotations.

import numpy as np
from spacy.attrs import ORTH, SENT_START  # type: ignore[import-not-found]
from spacy.language import Language
from spacy.tokens import Doc

__all__ = ["DELIMITERS", "SPLITTERS", "LibrarySentences"]

DELIMITERS = "\n!.;"
SPLITTERS = {"library": "corvanta_sentences", "sentencizer": "sentencizer",
             "pyrush": "medspacy_pyrush"}


@Language.factory("corvanta_sentences")
class LibrarySentences:
    """Sentence starts after every token that holds a delimiter."""

    def __init__(self, nlp: Language, name: str = "corvanta_sentences") -> None:
        self.name = name
        self._strings = nlp.vocab.strings
        self._ends: dict[int, bool] = {}  # per token text (hash): holds a delimiter

    def __call__(self, doc: Doc) -> Doc:
        if not len(doc):
            return doc
        # Token texts, not doc.text: building the text costs more than all the rest.
        kinds, inverse = np.unique(doc.to_array(ORTH), return_inverse=True)
        ends = np.array([self._holds_delimiter(kind) for kind in kinds.tolist()])[inverse]
        flags = np.full(len(doc), -1, dtype=np.int64)
        flags[0] = 1
        flags[1:][ends[:-1]] = 1
        doc.from_array([SENT_START], flags.astype(np.uint64).reshape(-1, 1))  # type: ignore[arg-type]
        return doc

    def _holds_delimiter(self, orth: int) -> bool:
        ends = self._ends.get(orth)
        if ends is None:
            ends = self._ends[orth] = any(c in DELIMITERS for c in self._strings[orth])
        return ends

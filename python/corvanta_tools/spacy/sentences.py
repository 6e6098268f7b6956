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
from spacy.attrs import SENT_START  # type: ignore[import-not-found]
from spacy.language import Language
from spacy.tokens import Doc

__all__ = ["DELIMITERS", "SPLITTERS", "LibrarySentences"]

# The library's own sentence ends: a line feed, "!", "." and ";".
DELIMITERS = "\n!.;"
SPLITTERS = {"library": "corvanta_sentences", "sentencizer": "sentencizer",
             "pyrush": "medspacy_pyrush"}


@Language.factory("corvanta_sentences")
class LibrarySentences:
    """Sentence starts after every token that holds a delimiter. Whether a
    word holds one is a lexeme flag of the vocabulary, computed once per
    word, so a Doc is split without a Python step per token."""

    def __init__(self, nlp: Language, name: str = "corvanta_sentences") -> None:
        self.name = name
        self.flag = nlp.vocab.add_flag(_holds_delimiter)

    def __call__(self, doc: Doc) -> Doc:
        if not len(doc):
            return doc
        ends = doc.to_array(self.flag).astype(bool)
        starts = np.empty(len(doc), dtype=np.int64)
        starts[0] = 1
        starts[1:] = np.where(ends[:-1], 1, -1)
        doc.from_array([SENT_START], starts.astype(np.uint64).reshape(-1, 1))  # type: ignore[arg-type]
        return doc


def _holds_delimiter(word: str) -> bool:
    return any(c in word for c in DELIMITERS)

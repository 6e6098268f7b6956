"""spaCy integration (the [spacy] extra): the "corvanta" pipeline component,
displaCy's manual format, and the clinical pipeline with medspaCy's ConText
(the [medspacy] extra, imported on first use).

- `CorvantaComponent` (factory "corvanta"): hits as `doc.spans["hpo"]` and
  `doc.ents`, each with `span._.assertion` by the toolkit's own ConText.
- `displacy_data(document)`: an annotated Document for `displacy.render(..., manual=True)`.
- `clinical_pipeline(release_path=...)`: medspaCy's tokenizer, sentences, "corvanta", medspaCy's ConText.
"""
from __future__ import annotations

import importlib
from typing import TYPE_CHECKING

from corvanta_tools.spacy.component import LABEL, CorvantaComponent
from corvanta_tools.spacy.displacy import DISPLACY_OPTIONS, displacy_data
from corvanta_tools.spacy.sentences import SPLITTERS

if TYPE_CHECKING:
    from corvanta_tools.spacy.clinical import clinical_pipeline, context_pipeline

__all__ = ["DISPLACY_OPTIONS", "LABEL", "SPLITTERS", "CorvantaComponent", "clinical_pipeline",
           "context_pipeline", "displacy_data"]

_MEDSPACY = ("clinical_pipeline", "context_pipeline")


def __getattr__(name: str) -> object:
    if name not in _MEDSPACY:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    return getattr(importlib.import_module(f"{__name__}.clinical"), name)

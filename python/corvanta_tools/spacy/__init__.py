"""spaCy integration (the [spacy] extra): the "corvanta" pipeline component,
the clinical pipeline with medspaCy's ConText, and displaCy's manual format.

- `CorvantaComponent` (factory "corvanta"): hits as `doc.spans["hpo"]` and `doc.ents`.
- `clinical_pipeline(hpo=...)`: tokenizer, sentences, "corvanta", ConText.
- `displacy_data(document)`: an annotated Document for `displacy.render(..., manual=True)`.
"""
from corvanta_tools.spacy.clinical import clinical_pipeline, context_pipeline
from corvanta_tools.spacy.component import LABEL, CorvantaComponent
from corvanta_tools.spacy.displacy import DISPLACY_OPTIONS, displacy_data
from corvanta_tools.spacy.sentences import SPLITTERS

__all__ = ["DISPLACY_OPTIONS", "LABEL", "SPLITTERS", "CorvantaComponent", "clinical_pipeline",
           "context_pipeline", "displacy_data"]

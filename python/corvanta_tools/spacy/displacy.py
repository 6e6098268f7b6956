"""displaCy's manual format for annotated documents.

    from spacy import displacy
    html = displacy.render(displacy_data(document), style="ent", manual=True)

Entities carry character offsets and link their term id to the HPO browser.
displaCy's entity view cannot nest, so the longest of overlapping mentions
is shown (the earlier one when equally long). A mention the library excludes
(or, when the record has an assertion, one ConText negates) is labelled
"NEGATED"; the others "PHENOTYPE". For a spaCy Doc from the "corvanta"
component, `displacy.render(doc, style="ent", options=DISPLACY_OPTIONS)`
gives the same links.
"""
from __future__ import annotations

from typing import Any

from corvanta_tools.records import Document, Record
from corvanta_tools.report import HPO_BROWSER, term_url

__all__ = ["DISPLACY_OPTIONS", "displacy_data"]

DISPLACY_OPTIONS = {"kb_url_template": HPO_BROWSER + "{}"}


def _shown(document: Document) -> list[tuple[int, int, Record]]:
    """The longest non-overlapping mentions with character offsets, in text order."""
    placed = sorted(((*r.char_span, r) for r in document.records if r.char_span is not None),
                    key=lambda m: (m[0] - m[1], m[0]))
    shown: list[tuple[int, int, Record]] = []
    for start, end, record in placed:
        if all(end <= s or start >= e for s, e, _ in shown):
            shown.append((start, end, record))
    return sorted(shown, key=lambda m: m[0])


def displacy_data(document: Document) -> dict[str, Any]:
    """`document` in displaCy's manual format (style "ent")."""
    ents = [{"start": start, "end": end, "label": "NEGATED" if record.negated else "PHENOTYPE",
             "kb_id": record.term_id, "kb_url": term_url(record.term_id)}
            for start, end, record in _shown(document)]
    return {"text": document.text, "ents": ents, "title": document.id}

"""The records of a profile's hits (corvanta_tools.records.Record, one per
hit, in the hits' order): built in one compiled call where the toolkit was
built (corvanta_tools._accurate), which also spares the garbage collector
the records, the most numerous objects of an annotated corpus;
`python_profile_records` is the reference it equals."""
from __future__ import annotations

from collections.abc import Sequence

from corvanta_tools.records import ProfileHit, Record, TermLabels

__all__ = ["compiled_profile_records", "profile_records", "python_profile_records"]

try:
    from corvanta_tools._accurate import profile_records as compiled_profile_records
except ImportError:  # a source tree on the path without the toolkit's compiled helper
    compiled_profile_records = None  # type: ignore[assignment]


def profile_records(document: str, hits: Sequence[ProfileHit],
                    release: TermLabels | None) -> list[Record]:
    """The records of `hits` of the document `document`, each with its
    term's official label from `release` (None without one)."""
    label = release.label if release is not None else _no_label
    term_labels = {term_id: label(term_id) for term_id in {hit[2] for hit in hits}}
    if compiled_profile_records is not None and isinstance(hits, list):
        return compiled_profile_records(document, hits, term_labels, Record)
    return python_profile_records(document, hits, term_labels)


def python_profile_records(document: str, hits: Sequence[ProfileHit],
                           term_labels: dict[str, str | None]) -> list[Record]:
    """`profile_records` in Python, given each term's official label."""
    return [Record(document, term_id, surface, term_labels[term_id], char_span, byte_span, excluded,
                   covered)
            for byte_span, char_span, term_id, surface, excluded, covered, _ in hits]


def _no_label(term_id: str) -> None:
    return None

"""The accurate profile's compiled helper (src/tools/accurate/)."""
from collections.abc import Callable, Mapping, Sequence
from typing import TypeVar

from corvanta import Hit

_Hit = TypeVar("_Hit", bound=tuple[object, ...])

def coordinations(text: str, hit_starts: Sequence[int], words: frozenset[str],
                  /) -> list[tuple[tuple[int, int], ...]]:
    """The variants of corvanta_tools.accuracy.coordination's search: lead,
    conjunct and tail str spans of each."""

def ascii_hits(text: str, hits_json: str, check: bool, kept: Callable[[str, str], bool],
               categories: dict[str, str], phenotype: str, hit_type: type[_Hit],
               /) -> tuple[list[_Hit], list[int]]:
    """The first pass of corvanta_tools.accuracy.recogniser over the ASCII
    text from its map_text_json: the hits, as hit_type, and the starts of
    all hits of the JSON."""

def ascii_variant_hits(matcher: object, text: str, variants: Sequence[tuple[tuple[int, int], ...]],
                       hits: Sequence[tuple[object, ...]], categories: dict[str, str],
                       phenotype: str, hit_type: type[_Hit], /) -> list[_Hit]:
    """The hits of the variants of the ASCII text, recognised by the
    matcher's map_text_json, that corvanta_tools.accuracy.recogniser adds to
    `hits` (as hit_type)."""

def profile_records(document: str, hits: list[tuple[object, ...]],
                    term_labels: dict[str, str | None], record_type: type[_Hit], /) -> list[_Hit]:
    """The records of the hits of corvanta_tools.accuracy.profile_records, as
    record_type."""

def exact_records(document: str, text: str, hits: list[Hit],
                  term_labels: Mapping[str, str | None] | None,
                  record_type: type[_Hit], assertions: Sequence[object] | None = None,
                  /) -> list[_Hit]:
    """The records of corvanta_tools.records.document_of_hits for the hits
    of an ASCII text, as record_type, taking the hits out of `hits`."""

"""Recognition of Human Phenotype Ontology concepts in clinical text."""
from typing import final

__all__ = ["Corvanta", "Hit"]

@final
class Corvanta:
    """A concept matcher built from one HPO release; immutable, so one object
    may serve many threads."""

    def __new__(cls, hp_json_path: str) -> Corvanta: ...
    @staticmethod
    def fetch_latest(cache_dir: str) -> Corvanta:
        """Fetches (or reuses a cached) latest HPO release into `cache_dir` and
        builds the matcher from it."""
    def version(self) -> str:
        """The loaded ontology's version string."""
    def map_text(self, text: str) -> list[Hit]:
        """Every hit in `text`, ordered by start, including clustering matches
        nested inside longer ones."""
    def map_text_longest(self, text: str) -> list[Hit]:
        """Like `map_text`, without clustering matches fully nested inside a
        longer overlapping match."""
    def map_text_json(self, text: str) -> str:
        """The hits of `map_text` as a JSON array of objects with the keys
        excluded, label, span and termId."""

@final
class Hit:
    """One concept occurrence. Not constructible from Python."""

    @property
    def term_id(self) -> str:
        """The term's identifier, such as HP:0001250."""
    @property
    def label(self) -> str:
        """The label or synonym that matched, as written in the release."""
    @property
    def span(self) -> tuple[int, int]:
        """(start, end): UTF-8 byte offsets into the lower-cased text, end
        exclusive; corvanta_cli.CharOffsets turns them into str indices."""
    @property
    def excluded(self) -> bool:
        """True when the concept stands in the scope of a negation."""

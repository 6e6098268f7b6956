"""Plain text: one document per input, the whole text one passage."""
from __future__ import annotations

from dataclasses import dataclass

from corvanta_tools.records import Document

__all__ = ["TextSource"]


@dataclass(frozen=True)
class TextSource:
    """A text and its document id."""

    id: str
    text: str

    @property
    def passages(self) -> list[tuple[int, str]]:
        return [(0, self.text)]

    def attach(self, annotated: list[Document]) -> Document:
        (document,) = annotated
        return document

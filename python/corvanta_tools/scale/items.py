"""What the scale-out functions accept as a note: a text, an (id, text) pair
or a mapping with "id" and "text"."""
from __future__ import annotations

from collections.abc import Mapping
from typing import Union

__all__ = ["Note", "note_id_and_text"]

Note = Union[str, "tuple[object, str]", "Mapping[str, object]"]


def note_id_and_text(note: Note, default_id: str) -> tuple[str, str]:
    """The document id and the text of `note`; a bare text, or a mapping
    without "id", gets `default_id`. Ids are turned into str."""
    if isinstance(note, str):
        return default_id, note
    if isinstance(note, Mapping):
        text = note["text"]
        note_id = note.get("id", default_id)
    else:
        note_id, text = note
    if not isinstance(text, str):
        raise TypeError(f"a note's text must be a str, not {type(text).__name__}")
    return str(note_id), text

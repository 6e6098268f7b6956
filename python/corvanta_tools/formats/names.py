"""File names for documents in an output directory."""
from __future__ import annotations

import hashlib
import re
from collections.abc import Callable
from pathlib import PurePath

__all__ = ["file_names"]

_UNSAFE = re.compile(r"[^A-Za-z0-9._-]+")
# A file name may have 255 bytes; this leaves room for a '-N', a suffix and
# the temporary name a file is written under first.
MAX_STEM = 200
_HASH_CHARS = 16


def file_names() -> Callable[[str], str]:
    """A function giving each document id a distinct file name stem: the
    id's last path component without its suffix, characters other than
    letters, digits, '.', '_' and '-' replaced by '_', and '-2', '-3', ...
    added to a stem given out before. A stem longer than MAX_STEM is cut
    short, and the start of the id's SHA-256 keeps it distinct."""
    taken: set[str] = set()

    def name(document_id: str) -> str:
        path = PurePath(document_id)
        stem = _UNSAFE.sub("_", path.stem if path.suffix else path.name).strip("._") or "document"
        if len(stem) > MAX_STEM:
            digest = hashlib.sha256(document_id.encode("utf-8", "surrogatepass")).hexdigest()
            stem = f"{stem[:MAX_STEM - _HASH_CHARS - 1]}-{digest[:_HASH_CHARS]}"
        candidate, number = stem, 1
        while candidate.lower() in taken:
            number += 1
            candidate = f"{stem}-{number}"
        taken.add(candidate.lower())
        return candidate

    return name

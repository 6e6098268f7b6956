"""What a release file that does not read as a graph document holds instead,
said from its first bytes."""
from __future__ import annotations

from pathlib import Path

__all__ = ["release_hint"]

_GZIP_MAGIC = b"\x1f\x8b"
_UTF8_BOM = b"\xef\xbb\xbf"


def release_hint(path: str) -> str:
    """A parenthesised hint to add to the release's error message, or ""."""
    file = Path(path)
    if file.is_dir():
        return " (that is a directory: name the hp.json file in it)"
    try:
        with file.open("rb") as f:
            head = f.read(64)
    except OSError:
        return ""
    if not head:
        return " (the file is empty)"
    if head.startswith(_GZIP_MAGIC):
        return " (the file holds gzip data: name it with a .gz suffix, or decompress it)"
    if head.removeprefix(_UTF8_BOM).lstrip().startswith(b"format-version:"):
        return (" (the file is an OBO flat file, hp.obo: corvanta reads the OBO Graphs JSON "
                "release, hp.json)")
    return ""

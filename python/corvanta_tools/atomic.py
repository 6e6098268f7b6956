"""Files that appear whole or not at all: written beside their target under
a temporary name and renamed over it once complete. A reader never sees
half a file, and a write that fails leaves the target as it was."""
from __future__ import annotations

import contextlib
import os
import tempfile
from collections.abc import Iterator
from typing import IO, Any

__all__ = ["atomic_file"]

# A file name may have 255 bytes: the temporary name is the target's, cut to
# this, and some 15 characters more.
TEMPORARY_STEM = 200


@contextlib.contextmanager
def atomic_file(target: str | os.PathLike[str], mode: str = "wb", permissions: int = 0o644,
                suffix: str = ".tmp", encoding: str | None = None,
                newline: str | None = None) -> Iterator[IO[Any]]:
    """A file opened with `mode` in `target`'s directory, given `permissions`
    and renamed over `target` when the block completes; removed when the
    block (or the rename) fails."""
    directory, name = os.path.split(os.path.abspath(target))
    descriptor, temporary = tempfile.mkstemp(prefix=f".{name[:TEMPORARY_STEM]}.", suffix=suffix,
                                             dir=directory)
    try:
        with os.fdopen(descriptor, mode, encoding=encoding, newline=newline) as file:
            yield file
        os.chmod(temporary, permissions)
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise

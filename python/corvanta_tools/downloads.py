"""Downloading a file into the cache the way the extension's own fetch does:
`curl`, failing that `wget`, into a temporary file beside the target, under
an advisory lock, renamed into place only once complete (and checked).

The temporary file is created here, exclusively and under a random name, so
the download programs never write through a link someone else left in the
cache; the target is replaced by rename, which never follows a link either.
"""
from __future__ import annotations

import contextlib
import fcntl
import os
import subprocess
import tempfile
from collections.abc import Callable, Iterator
from pathlib import Path

__all__ = ["DownloadError", "cache_lock", "download"]


class DownloadError(OSError):
    """Neither program could fetch the URL, or the result failed its check."""


@contextlib.contextmanager
def cache_lock(path: Path) -> Iterator[None]:
    """Holds an advisory lock on `path`: a directory, or a file created if
    missing (a link is never followed). Where no lock can be had the body runs
    unlocked, as in the extension's fetch."""
    flags = os.O_RDONLY | os.O_NOFOLLOW | os.O_CLOEXEC
    try:
        fd = os.open(path, flags if path.is_dir() else flags | os.O_CREAT, 0o666)
    except OSError:
        yield
        return
    try:
        with contextlib.suppress(OSError):
            fcntl.flock(fd, fcntl.LOCK_EX)
        yield
    finally:
        os.close(fd)


def succeeds(argv: list[str]) -> bool:
    """Whether the program could be started and exited with 0."""
    try:
        return subprocess.run(argv, stdin=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


def fetch_into(url: str, temporary: str) -> bool:
    """Runs curl, then wget, with the extension's arguments."""
    return (succeeds(["curl", "-L", "--fail", "--silent", "--show-error", "-o", temporary, url])
            or succeeds(["wget", "--quiet", "-O", temporary, url]))


def download(url: str, target: Path, lock: Path, check: Callable[[Path], None] | None = None,
             replace: bool = False, staging: Path | None = None) -> bool:
    """Downloads `url` to `target` unless it is there already (or `replace`
    is set): into a temporary file in `staging` (an existing directory on the
    same file system, by default `target`'s), then `check(temporary)` (which
    raises to reject the file), then a rename into `target`, creating the
    directories between `staging` and `target`. Returns whether it
    downloaded. On any failure nothing is left behind and nothing changed."""
    staging = staging or target.parent
    with cache_lock(lock):
        if not replace and target.exists():
            return False
        missing = missing_directories(target.parent, staging)
        fd, temporary = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".tmp", dir=staging)
        os.close(fd)
        try:
            if not fetch_into(url, temporary):
                raise DownloadError(f"failed to download {url} - neither curl nor wget "
                                    "succeeded (is one installed and is there network access?)")
            if check is not None:
                check(Path(temporary))
            os.chmod(temporary, 0o644)
            for directory in missing:
                directory.mkdir()
            os.replace(temporary, target)
        except BaseException:
            with contextlib.suppress(OSError):
                os.unlink(temporary)
            for directory in reversed(missing):
                with contextlib.suppress(OSError):
                    directory.rmdir()
            raise
    return True


def missing_directories(directory: Path, staging: Path) -> list[Path]:
    """The directories from `staging` down to `directory` that do not exist
    yet, outermost first; DownloadError when one of them is a symbolic link."""
    if directory != staging and staging not in directory.parents:
        raise ValueError(f"{staging} does not hold {directory}")
    missing = []
    while directory != staging:
        if directory.is_symlink():
            raise DownloadError(f"{directory} is a symbolic link; not writing through it")
        if not directory.exists():
            missing.append(directory)
        directory = directory.parent
    return missing[::-1]

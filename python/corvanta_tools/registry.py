"""The matcher and the release of each release file, built once per process
and kept for its life: the command line, the scale helpers' workers, the
spaCy component and the service all ask here. Dask and Spark ship only the
path to their workers, and spaCy components rebuild from theirs in every
process: a matcher is never pickled.

A file is known by its real path, size and modification time, so a release
written anew at the same path is read anew. Threads asking at the same time
wait for the one build.
"""
from __future__ import annotations

import functools
import os
import threading

import corvanta

from corvanta_tools.embedded import default_release_path
from corvanta_tools.releases import Release

__all__ = ["default_matcher", "matcher", "matcher_and_release", "release"]

_building = threading.Lock()


def _identity(path: str | None) -> tuple[str, int, int]:
    real = os.path.realpath(path if path is not None else default_release_path())
    info = os.stat(real)
    return real, info.st_size, info.st_mtime_ns


@functools.lru_cache(maxsize=4)
def _matcher(identity: tuple[str, int, int]) -> corvanta.Corvanta:
    return corvanta.Corvanta(identity[0])


@functools.lru_cache(maxsize=4)
def _release(identity: tuple[str, int, int]) -> Release:
    return Release(identity[0])


def matcher(path: str | None = None) -> corvanta.Corvanta:
    """This process's matcher for the release file at `path` (None: the
    release embedded in the package, which every installation has)."""
    try:
        identity = _identity(path)
    except OSError:  # nothing to keep: the extension says what is wrong with the path
        return corvanta.Corvanta(path if path is not None else default_release_path())
    with _building:
        return _matcher(identity)


def release(path: str | None = None) -> Release:
    """This process's `Release` (version, official labels) of the file at `path`."""
    try:
        identity = _identity(path)
    except OSError:  # nothing to keep: Release says what is wrong with the path
        return Release(path if path is not None else default_release_path())
    with _building:
        return _release(identity)


def default_matcher() -> corvanta.Corvanta:
    """The matcher for the embedded release."""
    return matcher()


def matcher_and_release(path: str | None = None) -> tuple[corvanta.Corvanta, Release]:
    """Both of the above for one file."""
    return matcher(path), release(path)

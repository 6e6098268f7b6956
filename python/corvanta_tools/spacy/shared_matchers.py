"""One matcher, and one table of official labels, per release and process.

Every pipeline built from the same release shares them: building a matcher
from a release costs about half a second and its memory, and a `Corvanta`
object may serve any number of pipelines and threads at once. Worker
processes (`nlp.pipe(..., n_process=N)`) build their own from the release's
path; nothing of this is ever pickled.
"""
from __future__ import annotations

import functools
import os
import threading

import corvanta

from corvanta_tools.releases import Release, resolve_release_path

__all__ = ["labels_for", "matcher_for", "release_path"]

_lock = threading.Lock()


def release_path(hpo: str | None, release: str | None) -> str:
    """The release file a component's `hpo` (a path) or `release` (a version,
    or "latest") names, fetched into the cache directory when needed; neither:
    the release the package carries."""
    return os.path.realpath(resolve_release_path(hpo=hpo, release=release))


@functools.cache
def _matcher(path: str) -> corvanta.Corvanta:
    return corvanta.Corvanta(path)


@functools.cache
def _release(path: str) -> Release:
    return Release(path)


def matcher_for(path: str) -> corvanta.Corvanta:
    """The process's matcher for the release at `path` (a resolved path)."""
    with _lock:
        return _matcher(path)


def labels_for(path: str) -> Release:
    """The process's official labels for the release at `path`."""
    with _lock:
        return _release(path)

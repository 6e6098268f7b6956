"""The matcher and release of a process, built from the release path on first
use and kept for the life of the process. Dask and Spark ship only the path to
their workers, and spaCy components rebuild from theirs in every process: a
matcher is never pickled."""
from __future__ import annotations

import functools
import threading

import corvanta

from corvanta_tools.embedded import default_matcher, default_release_path
from corvanta_tools.releases import Release

__all__ = ["worker_release"]

_building = threading.Lock()


@functools.lru_cache(maxsize=4)
def _built(hpo: str | None) -> tuple[corvanta.Corvanta, Release]:
    if hpo is None:
        return default_matcher(), Release(default_release_path())
    return corvanta.Corvanta(hpo), Release(hpo)


def worker_release(hpo: str | None) -> tuple[corvanta.Corvanta, Release]:
    """This process's matcher for the release file at `hpo` (None: the release
    embedded in the package, which every worker with the package installed
    has), and the release for the terms' official labels. Built once, even
    when several threads of the worker ask at the same time."""
    with _building:
        return _built(hpo)

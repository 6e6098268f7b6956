"""The matcher and release of a worker process, built from the release path on
first use and kept for the life of the process. Dask and Spark ship only the
path to their workers: a matcher is never pickled."""
from __future__ import annotations

import functools
import threading

import corvanta

from corvanta_tools.releases import Release

__all__ = ["worker_release"]

_building = threading.Lock()


@functools.lru_cache(maxsize=4)
def _built(hpo: str) -> tuple[corvanta.Corvanta, Release]:
    return corvanta.Corvanta(hpo), Release(hpo)


def worker_release(hpo: str) -> tuple[corvanta.Corvanta, Release]:
    """This process's matcher for the release file at `hpo`, and the release
    (for the terms' official labels). Built once, even when several threads
    of the worker ask at the same time."""
    with _building:
        return _built(hpo)

"""Faster Doc serialization between the processes of `nlp.pipe(n_process=N)`.

srsly, which writes and reads a Doc's user data, looks up its msgpack
encoders and decoders on every call: a scan of every installed
distribution's entry points, then a pass over catalogue's whole registry
(which holds every function spaCy registers). With five calls per Doc and
direction that was nine tenths of the clinical pipeline's time on two
processes. `cache_msgpack_lookups` loads the entry points once, registers
what they provide, and keeps each lookup's answer until something new is
registered, so every encoder and decoder is still found (a package installed
while the process runs is not seen).
"""
from __future__ import annotations

import threading
from collections.abc import Callable
from typing import Any

import catalogue  # type: ignore[import-untyped]
import srsly  # type: ignore[import-untyped]

__all__ = ["cache_msgpack_lookups"]

_lock = threading.Lock()


def _cached(lookup: Callable[[], dict[str, Any]]) -> Callable[[], dict[str, Any]]:
    answer: dict[str, Any] = {}
    registered = -1

    def cached() -> dict[str, Any]:
        nonlocal answer, registered
        if registered != len(catalogue.REGISTRY):
            registered = len(catalogue.REGISTRY)
            answer = lookup()
        return answer
    return cached


def cache_msgpack_lookups() -> None:
    """Makes srsly's encoder and decoder lookups cheap (see the module docstring)."""
    with _lock:
        for registry in (srsly.msgpack_encoders, srsly.msgpack_decoders):
            if registry.entry_points:
                for name, function in registry.get_entry_points().items():
                    registry.register(name, func=function)
                registry.entry_points = False
                registry.get_all = _cached(registry.get_all)

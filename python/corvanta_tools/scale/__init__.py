"""Annotating many notes: on threads (`annotate_many`), on Dask
(`annotate_bag`, `annotate_dataframe`, extra [dask]) and on Spark
(`annotate_spark`, extra [spark]).

Every engine gives the records of `corvanta annotate` for the same notes. The
Dask and Spark helpers take the release path, and each worker process builds
its own matcher from it once: a matcher is never pickled. Dask and Spark are
imported only when their helpers are first used.
"""
from __future__ import annotations

import importlib
from typing import TYPE_CHECKING

from corvanta_tools.scale.threads import annotate_many

if TYPE_CHECKING:
    from corvanta_tools.scale.dask import annotate_bag, annotate_dataframe
    from corvanta_tools.scale.spark import annotate_spark

__all__ = ["annotate_bag", "annotate_dataframe", "annotate_many", "annotate_spark"]

_ENGINES = {"annotate_bag": "dask", "annotate_dataframe": "dask", "annotate_spark": "spark"}


def __getattr__(name: str) -> object:
    if name not in _ENGINES:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    return getattr(importlib.import_module(f"{__name__}.{_ENGINES[name]}"), name)

"""The installed package's version."""
from __future__ import annotations

import importlib.metadata

__all__ = ["package_version"]


def package_version() -> str:
    try:
        return importlib.metadata.version("corvanta")
    except importlib.metadata.PackageNotFoundError:
        return "unknown"

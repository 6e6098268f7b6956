"""The HPO release the package carries, the default when no release is named.

`data/hp-VERSION.json.gz` is the release file exactly as published, gzipped;
the matcher reads a plain copy that is made once in the cache directory (see
`release_cache`). `scripts/update-embedded-release.sh` replaces it.
"""
from __future__ import annotations

from pathlib import Path

from corvanta_tools.release_cache import gunzipped_copy, user_cache_dir

__all__ = ["EMBEDDED_RELEASE", "EMBEDDED_VERSION", "default_release_path"]

EMBEDDED_RELEASE: Path = next((Path(__file__).parent / "data").glob("hp-*.json.gz"))
EMBEDDED_VERSION: str = EMBEDDED_RELEASE.name.removeprefix("hp-").removesuffix(".json.gz")


def default_release_path(cache_dir: Path | None = None) -> str:
    """A path `Corvanta(...)` accepts for the embedded release: its plain copy
    in `cache_dir` (default: the user cache directory), made on first use.
    No network is used."""
    return str(gunzipped_copy(EMBEDDED_RELEASE, cache_dir or user_cache_dir()))

"""Where releases live on disk. Under the cache directory:

    hp.json                      the latest release (what `Corvanta.fetch_latest` keeps)
    releases/VERSION/hp.json     pinned releases, one directory per version
    gunzipped/SHA256.json        plain copies of gzipped releases, named by the
                                 SHA-256 of the gzipped file and reused while it lasts

Every file appears by rename once complete, so a present file is whole. Any of
them may be deleted at any time; it is downloaded or decompressed again when
next needed.
"""
from __future__ import annotations

import atexit
import contextlib
import datetime
import gzip
import hashlib
import os
import re
import shutil
import tempfile
from pathlib import Path

import platformdirs

__all__ = ["LATEST_URL", "check_version", "gunzipped_copy", "latest_path", "pinned_path",
           "pinned_releases", "pinned_url", "user_cache_dir"]

LATEST_URL = "https://purl.obolibrary.org/obo/hp.json"
PINNED_URL = ("https://github.com/obophenotype/human-phenotype-ontology/releases/download/"
              "v{version}/hp.json")
VERSION_SHAPE = re.compile(r"\d{4}-\d{2}-\d{2}")


def user_cache_dir() -> Path:
    """Where releases are cached by default: the platform's per-user cache directory."""
    return Path(platformdirs.user_cache_dir("corvanta", appauthor=False))


def check_version(version: str) -> str:
    """`version` when it is a release date such as 2025-05-06; ValueError otherwise."""
    valid = VERSION_SHAPE.fullmatch(version) is not None
    if valid:
        try:
            datetime.date.fromisoformat(version)
        except ValueError:
            valid = False
    if not valid:
        raise ValueError(f"not a release version (a date such as 2025-05-06): {version!r}")
    return version


def latest_path(cache_dir: Path) -> Path:
    return cache_dir / "hp.json"


def pinned_path(cache_dir: Path, version: str) -> Path:
    return cache_dir / "releases" / check_version(version) / "hp.json"


def pinned_url(version: str) -> str:
    return PINNED_URL.format(version=check_version(version))


def pinned_releases(cache_dir: Path) -> list[tuple[str, Path]]:
    """(version, path) of every pinned release in the cache, oldest version first."""
    found = []
    for path in sorted((cache_dir / "releases").glob("*/hp.json")):
        if VERSION_SHAPE.fullmatch(path.parent.name) and path.is_file():
            found.append((path.parent.name, path))
    return found


def gunzipped_copy(gzipped: str | os.PathLike[str], cache_dir: Path) -> Path:
    """A plain copy of a gzipped release: `gunzipped/<sha256>.json` in the
    cache, reused when present. Where the cache cannot be written the copy
    goes to a temporary directory removed when the process exits."""
    with open(gzipped, "rb") as file:
        data = file.read()
    name = hashlib.sha256(data).hexdigest() + ".json"
    directory = cache_dir / "gunzipped"
    cached = directory / name
    if cached.is_file():
        return cached
    plain = gzip.decompress(data)
    try:
        directory.mkdir(parents=True, exist_ok=True)
        return write_atomically(cached, plain)
    except OSError:
        return write_atomically(Path(process_temporary_dir()) / name, plain)


def write_atomically(target: Path, data: bytes) -> Path:
    fd, temporary = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".tmp", dir=target.parent)
    try:
        with os.fdopen(fd, "wb") as file:
            file.write(data)
        os.chmod(temporary, 0o644)
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise
    return target


_temporary_dirs: list[str] = []


def process_temporary_dir() -> str:
    if not _temporary_dirs:
        _temporary_dirs.append(tempfile.mkdtemp(prefix="corvanta-"))
        atexit.register(shutil.rmtree, _temporary_dirs[0], True)
    return _temporary_dirs[0]

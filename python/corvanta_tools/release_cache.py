"""Where releases live on disk. Under the cache directory:

    hp.json                      the latest release (what `Corvanta.fetch_latest` keeps)
    releases/VERSION/hp.json     pinned releases, one directory per version
    gunzipped/SHA256.json        plain copies of gzipped releases, named by the
                                 SHA-256 of the gzipped file and reused while it lasts

Every file appears by rename once complete, so a present file is whole. Any of
them may be deleted at any time; it is downloaded or decompressed again when
next needed.

What is checked before a cached file is used, at no extra read: no link is
followed in the cache; a plain copy must have the size its gzip trailer gives,
or it is made again; the version the matcher reads from the embedded
release's copy or from `releases/VERSION/hp.json` must be the one expected, or
the run stops naming the file to delete. A file of the right size and version
whose content was changed is not detected: whoever may write the cache can
change what runs.
"""
from __future__ import annotations

import atexit
import datetime
import gzip
import hashlib
import os
import re
import shutil
import stat
import tempfile
from pathlib import Path

import platformdirs

from corvanta_tools.atomic import atomic_file

__all__ = ["LATEST_URL", "MAX_RELEASE_BYTES", "GzipTooLarge", "check_version", "gunzipped_copy",
           "latest_path", "pinned_path", "pinned_releases", "pinned_url", "user_cache_dir"]

LATEST_URL = "https://purl.obolibrary.org/obo/hp.json"
PINNED_URL = ("https://github.com/obophenotype/human-phenotype-ontology/releases/download/"
              "v{version}/hp.json")
VERSION_SHAPE = re.compile(r"\d{4}-\d{2}-\d{2}")
# A release is some 25 MB; a gzipped file that holds more than this is no
# release (a decompression bomb, say), and is not decompressed further.
MAX_RELEASE_BYTES = 512 << 20
CHUNK = 1 << 20


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
        if VERSION_SHAPE.fullmatch(path.parent.name) and path.is_file() and not path.is_symlink():
            found.append((path.parent.name, path))
    return found


class GzipTooLarge(ValueError):
    """A gzipped release that decompresses to more than MAX_RELEASE_BYTES."""


def gunzipped_copy(gzipped: str | os.PathLike[str], cache_dir: Path) -> Path:
    """A plain copy of a gzipped release: `gunzipped/<sha256>.json` in the
    cache, reused while it is a regular file (not a link) of the size the
    gzip trailer gives, made again otherwise. Where the cache cannot be
    written the copy goes to a temporary directory removed when the process
    exits. Raises GzipTooLarge, leaving nothing behind, past
    MAX_RELEASE_BYTES."""
    digest, plain_size = gzip_facts(gzipped)
    name = digest + ".json"
    directory = cache_dir / "gunzipped"
    cached = directory / name
    if is_regular_of_size(cached, plain_size):
        return cached
    try:
        directory.mkdir(parents=True, exist_ok=True)
        return decompressed_into(cached, gzipped)
    except gzip.BadGzipFile:
        raise
    except OSError:
        return decompressed_into(Path(process_temporary_dir()) / name, gzipped)


def gzip_facts(gzipped: str | os.PathLike[str]) -> tuple[str, int]:
    """The SHA-256 of the gzipped file and the size its trailer gives the
    decompressed data (modulo 2^32, as gzip stores it)."""
    sha256 = hashlib.sha256()
    tail = b""
    with open(gzipped, "rb") as file:
        while chunk := file.read(CHUNK):
            sha256.update(chunk)
            tail = (tail + chunk)[-4:]
    return sha256.hexdigest(), int.from_bytes(tail, "little")


def is_regular_of_size(path: Path, size: int) -> bool:
    """Whether `path` itself (a link is not followed) is a regular file of
    `size` bytes modulo 2^32."""
    try:
        info = path.lstat()
    except OSError:
        return False
    return stat.S_ISREG(info.st_mode) and info.st_size % 2**32 == size


def decompressed_into(target: Path, gzipped: str | os.PathLike[str]) -> Path:
    """Decompresses `gzipped` chunk by chunk into a temporary file beside
    `target`, renamed over it once complete."""
    with atomic_file(target) as out, gzip.open(gzipped, "rb") as data:
        written = 0
        while chunk := data.read(CHUNK):
            written += len(chunk)
            if written > MAX_RELEASE_BYTES:
                raise GzipTooLarge(f"{os.fspath(gzipped)}: decompresses to more than "
                                   f"{MAX_RELEASE_BYTES >> 20} MiB; no HPO release is that large")
            out.write(chunk)
    return target


_temporary_dirs: list[str] = []


def process_temporary_dir() -> str:
    if not _temporary_dirs:
        _temporary_dirs.append(tempfile.mkdtemp(prefix="corvanta-"))
        atexit.register(shutil.rmtree, _temporary_dirs[0], True)
    return _temporary_dirs[0]

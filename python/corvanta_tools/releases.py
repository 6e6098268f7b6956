"""HPO releases: what one says about its terms (official labels, alternative
ids, obsolete terms and their replacements, its version), and how a release
named by the user becomes a file the matcher reads (pinned versions, the
latest, gzipped files, the embedded default).

`Release(path)` reads an `hp.json` (plain or gzipped) once, keeps small
tables of the HP terms and lets the parsed document go. Only the keys it needs
are decoded (node ids, labels, obsolete flags, property values and the graph's
version); everything else in the file is skipped by the decoder unread, which
makes reading a release cheaper than building a matcher from it.
"""
from __future__ import annotations

import gzip
import io
import os
import zlib
from collections.abc import Iterable, Iterator, Mapping
from dataclasses import dataclass
from pathlib import Path
from types import MappingProxyType

import msgspec

from corvanta_tools.downloads import LOCK_WAIT_LIMIT, DownloadError, download
from corvanta_tools.embedded import default_release_path
from corvanta_tools.release_cache import (LATEST_URL, MAX_RELEASE_BYTES, GzipTooLarge,
                                          gunzipped_copy, latest_path, pinned_path, pinned_url,
                                          user_cache_dir)

__all__ = ["Release", "ReleaseError", "Term", "fetch_latest_release", "fetch_release", "is_gzip",
           "read_release_bytes", "refresh_latest", "resolve_release_path"]

OBO = "http://purl.obolibrary.org/obo/"
HP_IRI = OBO + "HP_"
IS_A = "is_a"
ALTERNATIVE_ID = "#hasAlternativeId"
VERSION_INFO = "#versionInfo"
REPLACED_BY = OBO + "IAO_0100001"
GZIP_MAGIC = b"\x1f\x8b"
VERSION_CHARACTERS = frozenset("0123456789-")


class ReleaseError(ValueError):
    """The file is not a usable HPO release (OBO Graphs JSON with a version)."""


@dataclass(frozen=True, slots=True)
class Term:
    """One HP term as the release describes it."""

    id: str
    label: str
    alt_ids: tuple[str, ...]
    obsolete: bool
    replaced_by: str | None


# The decoded shape: only the keys read below. An explicit null counts as absent.
class _PropertyValue(msgspec.Struct, gc=False):
    pred: str
    val: str


class _Meta(msgspec.Struct, gc=False):
    basicPropertyValues: list[_PropertyValue] | None = None
    deprecated: bool | None = None
    version: str | None = None


class _Node(msgspec.Struct, gc=False):
    id: str
    lbl: str | None = None
    meta: _Meta | None = None


class _Edge(msgspec.Struct, gc=False):
    sub: str
    pred: str
    obj: str


class _Graph(msgspec.Struct, gc=False):
    nodes: list[_Node]
    edges: list[_Edge] | None = None
    meta: _Meta | None = None


class _Document(msgspec.Struct, gc=False):
    graphs: list[_Graph]


_DECODER = msgspec.json.Decoder(_Document)


def is_gzip(data: bytes) -> bool:
    return data[:2] == GZIP_MAGIC


def read_release_bytes(path: str | os.PathLike[str]) -> bytes:
    """The release document's bytes, decompressed when the file is gzip data
    (whatever its name) up to MAX_RELEASE_BYTES."""
    with open(path, "rb") as file:
        data = file.read()
    if not is_gzip(data):
        return data
    try:
        with gzip.GzipFile(fileobj=io.BytesIO(data)) as file:
            plain = file.read(MAX_RELEASE_BYTES + 1)
    except (OSError, EOFError, zlib.error) as error:
        raise ReleaseError(f"{os.fspath(path)}: broken gzip data: {error}") from None
    if len(plain) > MAX_RELEASE_BYTES:
        raise ReleaseError(f"{os.fspath(path)}: decompresses to more than "
                           f"{MAX_RELEASE_BYTES >> 20} MiB; no HPO release is that large")
    return plain


def curie(text: str) -> str | None:
    """`text` as a printed CURIE: split at the first colon, else at the first
    underscore; None when it has neither. An OBO IRI is compressed first."""
    if text.startswith(OBO):
        text = text[len(OBO):]
        if "_" not in text:
            return None
        prefix, _, local = text.partition("_")
        return f"{prefix}:{local}"
    for separator in ":_":
        prefix, found, local = text.partition(separator)
        if found:
            return f"{prefix}:{local}"
    return None


def graph_version(meta: _Meta | None) -> str | None:
    """The release version as the matcher takes it: the first `#versionInfo`
    property value, else the second-to-last piece of `meta.version` when it
    holds only digits and hyphens."""
    if meta is None:
        return None
    for value in meta.basicPropertyValues or ():
        if value.pred.endswith(VERSION_INFO):
            return value.val
    if meta.version is not None:
        pieces = meta.version.split("/")
        if len(pieces) >= 2 and set(pieces[-2]) <= VERSION_CHARACTERS:
            return pieces[-2]
    return None


def hp_terms(nodes: Iterable[_Node]) -> dict[str, Term]:
    """Every labelled HP node as a Term, keyed by its id; a later node with the
    same id replaces an earlier one."""
    terms: dict[str, Term] = {}
    for node in nodes:
        if not node.id.startswith(HP_IRI) or node.lbl is None:
            continue
        term_id = "HP:" + node.id[len(HP_IRI):]
        alt_ids: list[str] = []
        replaced_by = None
        meta = node.meta
        if meta is not None:
            for value in meta.basicPropertyValues or ():
                if value.pred.endswith(ALTERNATIVE_ID):
                    if (alt_id := curie(value.val)) is not None:
                        alt_ids.append(alt_id)
                elif value.pred == REPLACED_BY and replaced_by is None:
                    replaced_by = curie(value.val)
        obsolete = meta is not None and bool(meta.deprecated)
        terms[term_id] = Term(term_id, node.lbl, tuple(alt_ids), obsolete, replaced_by)
    return terms


def is_a_parents(edges: Iterable[_Edge]) -> dict[str, tuple[str, ...]]:
    """The is-a parents of each HP term that has any (a term is never its own)."""
    parents: dict[str, list[str]] = {}
    for edge in edges:
        if edge.pred != IS_A:
            continue
        child, parent = _hp_id(edge.sub), _hp_id(edge.obj)
        if child is not None and parent is not None and child != parent:
            parents.setdefault(child, []).append(parent)
    return {term: tuple(found) for term, found in parents.items()}


def _hp_id(iri: str) -> str | None:
    return "HP:" + iri[len(HP_IRI):] if iri.startswith(HP_IRI) else None


def primary_ids(terms: dict[str, Term]) -> dict[str, str]:
    """Every id that names no current term but leads to one, mapped to it:
    alternative ids to the term listing them, obsolete terms to their
    replacement, chains followed. An id on a cycle maps nowhere."""
    step: dict[str, str] = {}
    for term in terms.values():
        for alt_id in term.alt_ids:
            listed = terms.get(alt_id)
            if listed is None or (listed.obsolete and listed.replaced_by is None):
                step.setdefault(alt_id, term.id)
    for term in terms.values():
        if term.obsolete and term.replaced_by is not None:
            step[term.id] = term.replaced_by
    primary: dict[str, str] = {}
    for start in step:
        seen = {start}
        current = start
        while (following := step.get(current)) is not None and following not in seen:
            seen.add(following)
            current = following
        if following is None and current != start:
            primary[start] = current
    return primary


class Release:
    """The term metadata, is-a parents and version of one HPO release file
    (`hp.json` or `hp.json.gz`). Immutable; the parsed document is not kept.

    Raises OSError when the file cannot be read and ReleaseError when it is not
    an OBO Graphs document or has no version.
    """

    __slots__ = ("_path", "_version", "_terms", "_primary", "_term_count", "_parents")

    def __init__(self, path: str | os.PathLike[str]) -> None:
        self._path = os.fspath(path)
        try:
            document = _DECODER.decode(read_release_bytes(path))
        except msgspec.DecodeError as error:
            raise ReleaseError(f"{self._path}: not an HPO release: {error}") from None
        if not document.graphs:
            raise ReleaseError(f"{self._path}: not an HPO release: the document has no graph")
        # Terms and version come from the last graph, as in the matcher.
        graph = document.graphs[-1]
        version = graph_version(graph.meta)
        if version is None:
            raise ReleaseError(f"{self._path}: the release has no version")
        self._version = version
        self._terms = hp_terms(graph.nodes)
        self._parents = is_a_parents(graph.edges or ())
        del document, graph
        self._primary = primary_ids(self._terms)
        self._term_count = sum(not term.obsolete for term in self._terms.values())

    @property
    def path(self) -> str:
        """The file as given."""
        return self._path

    @property
    def version(self) -> str:
        """The release version, the text `Corvanta.version()` gives for this file."""
        return self._version

    @property
    def term_count(self) -> int:
        """The number of current (not obsolete) HP terms."""
        return self._term_count

    @property
    def obsolete_count(self) -> int:
        """The number of obsolete HP terms."""
        return len(self._terms) - self._term_count

    @property
    def alt_id_count(self) -> int:
        """The number of alternative ids that lead to another term."""
        return sum(alt_id not in self._terms for alt_id in self._primary)

    def term(self, term_id: str) -> Term | None:
        """The HP term (current or obsolete) with exactly this id; None for an
        alternative or unknown id."""
        return self._terms.get(term_id)

    def label(self, term_id: str) -> str | None:
        """The official label of the term with exactly this id (obsolete terms
        included); None for an alternative or unknown id."""
        term = self._terms.get(term_id)
        return None if term is None else term.label

    def parents(self) -> Mapping[str, tuple[str, ...]]:
        """The is-a parents of each HP term that has any, read-only
        (corvanta_tools.hierarchy.Hierarchy.of works on them)."""
        return MappingProxyType(self._parents)

    def primary_id(self, term_id: str) -> str:
        """The current term an alternative or obsolete id stands for (chains of
        replacements followed); any other id unchanged."""
        return self._primary.get(term_id, term_id)

    def terms(self) -> Iterator[Term]:
        """Every HP term of the release, obsolete ones included, in file order."""
        return iter(self._terms.values())

    def replacements(self) -> dict[str, str]:
        """Every alternative or obsolete id that leads to a current term,
        mapped to it (what `primary_id` follows)."""
        return dict(self._primary)

    def knows(self, term_id: str) -> bool:
        """Whether the id names a term of this release or leads to one."""
        return term_id in self._terms or term_id in self._primary

    def is_obsolete(self, term_id: str) -> bool:
        """Whether the id names an obsolete term of this release."""
        term = self._terms.get(term_id)
        return term is not None and term.obsolete

    def __repr__(self) -> str:
        return f"Release({self._path!r}, version={self._version!r})"


def fetch_release(version: str, cache_dir: Path) -> Path:
    """The pinned release VERSION (a date such as 2025-05-06) in the cache,
    downloaded first when missing; a cached one is used without the network.
    A download whose version is not VERSION is discarded. Raises ValueError
    for a malformed VERSION, DownloadError when the download fails and
    ReleaseError when the cached one is a link or no file."""
    target = pinned_path(cache_dir, version)
    if target.is_symlink() or (target.exists() and not target.is_file()):
        raise ReleaseError(f"{target} is not a regular file (a link is not followed there); "
                           "delete it to download the release again")
    if target.is_file():
        return target

    def check(downloaded: Path) -> None:
        found = downloaded_version(downloaded)
        if found != version:
            raise DownloadError(f"{pinned_url(version)} holds release {found}, not the "
                                f"requested {version}")

    make_cache_dir(cache_dir)
    download(pinned_url(version), target, check=check, staging=cache_dir)
    return target


def fetch_latest_release(cache_dir: Path, lock_wait_limit: float = LOCK_WAIT_LIMIT) -> Path:
    """The latest release in the cache, `hp.json`, downloaded first when
    missing, as `Corvanta.fetch_latest` does but without building a matcher:
    a present file (a link followed) is used as it stands, whatever it holds.
    Raises DownloadError when the download fails."""
    target = latest_path(cache_dir)
    make_cache_dir(cache_dir)
    if not target.exists():
        download(LATEST_URL, target, lock_wait_limit=lock_wait_limit)
    return target


def refresh_latest(cache_dir: Path) -> tuple[str | None, str]:
    """Downloads the latest release and puts it in place of the cached latest
    in one rename; returns the old version (None when there was none or it
    did not read) and the new one. The old file stays when anything fails."""
    target = latest_path(cache_dir)
    try:
        old: str | None = Release(target).version
    except (OSError, ReleaseError):
        old = None
    new: list[str] = []

    def check(downloaded: Path) -> None:
        new.append(downloaded_version(downloaded))

    make_cache_dir(cache_dir)
    download(LATEST_URL, target, check=check, replace=True)
    return old, new[0]


def downloaded_version(path: Path) -> str:
    try:
        return Release(path).version
    except ReleaseError as error:
        raise DownloadError(f"the downloaded file is not a usable release: {error}") from None


def make_cache_dir(cache_dir: Path) -> None:
    # A NUL would cut the path short at the system call, where it is refused.
    if "\0" in str(cache_dir):
        raise DownloadError(f"failed to create cache directory {cache_dir}: "
                            "path contains a NUL character")
    try:
        cache_dir.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise DownloadError(f"failed to create cache directory {cache_dir}: "
                            f"{error.strerror or error}") from None


def resolve_release_path(release_path: str | None = None, version: str | None = None,
                         cache_dir: Path | None = None) -> str:
    """A path `Corvanta(...)` accepts for the release named: `release_path`
    as given (a gzipped file through its plain copy in the cache), a
    `version` pinned in the cache (downloaded once), `version` "latest" the
    cached latest (downloaded when missing), neither the embedded release."""
    if release_path is not None and version is not None:
        raise ValueError("name a release file or a release version, not both")
    cache_dir = cache_dir or user_cache_dir()
    if version == "latest":
        return str(fetch_latest_release(cache_dir))
    if version is not None:
        return str(fetch_release(version, cache_dir))
    if release_path is None:
        return default_release_path(cache_dir)
    if not gzipped(release_path):
        return release_path
    try:
        return str(gunzipped_copy(release_path, cache_dir))
    except (EOFError, zlib.error, gzip.BadGzipFile) as error:
        raise ReleaseError(f"{release_path}: broken gzip data: {error}") from None
    except GzipTooLarge as error:
        raise ReleaseError(str(error)) from None


def gzipped(path: str) -> bool:
    """Whether the file starts as gzip data; False when it cannot be read
    (the matcher then reports why)."""
    try:
        with open(path, "rb") as file:
            return is_gzip(file.read(2))
    except OSError:
        return False

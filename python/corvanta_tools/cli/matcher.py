"""The release options every subcommand shares (--hpo, --release, --cache-dir),
the release file they name, and the matcher and term metadata built from it.

Without --hpo and --release the embedded release is used (no network); the
log line on standard error says which release a run uses, unless --hpo named
the file."""
from __future__ import annotations

import argparse
import functools
import sys
from pathlib import Path

import corvanta

from corvanta_tools import registry
from corvanta_tools.cli.errors import EXIT_RELEASE, EXIT_USAGE, CliError
from corvanta_tools.cli.extension_errors import fetch_failed, matcher_failed
from corvanta_tools.downloads import DownloadError
from corvanta_tools.embedded import EMBEDDED_VERSION
from corvanta_tools.release_cache import check_version, latest_path, pinned_path, user_cache_dir
from corvanta_tools.releases import Release, ReleaseError, resolve_release_path

__all__ = ["add_cache_dir_option", "add_release_options", "cache_dir_of", "matcher_for",
           "release_for", "release_path_for", "release_version", "user_cache_dir"]


def release_version(text: str) -> str:
    """An argparse type: "latest" or a release date such as 2025-05-06."""
    if text == "latest":
        return text
    try:
        return check_version(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(f"{error}, or latest") from None


def add_release_options(parser: argparse.ArgumentParser) -> None:
    """--hpo, --release and --cache-dir; absent options stay absent from the
    namespace, so that the top level and a subcommand may both take them."""
    parser.add_argument("--hpo", metavar="PATH", default=argparse.SUPPRESS,
                        help="HPO release file (hp.json or hp.json.gz); default: the release "
                             f"embedded in the package ({EMBEDDED_VERSION})")
    parser.add_argument("--release", metavar="VERSION", type=release_version,
                        default=argparse.SUPPRESS,
                        help="HPO release by version (such as 2025-05-06), downloaded once into "
                             "the cache directory, or latest")
    add_cache_dir_option(parser)


def add_cache_dir_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--cache-dir", metavar="DIR", type=Path, default=argparse.SUPPRESS,
                        help=f"cache directory for releases (default: {user_cache_dir()})")


def cache_dir_of(args: argparse.Namespace) -> Path:
    """--cache-dir, else the user cache directory."""
    cache_dir: Path = getattr(args, "cache_dir", None) or user_cache_dir()
    return cache_dir


def options(args: argparse.Namespace) -> tuple[str | None, str | None, Path]:
    release_path: str | None = getattr(args, "hpo", None)
    version: str | None = getattr(args, "release", None)
    if release_path is not None and version is not None:
        raise CliError(EXIT_USAGE, "give --hpo or --release, not both")
    return release_path, version, cache_dir_of(args)


def release_path_for(args: argparse.Namespace) -> str:
    """The file the options name, fetched or decompressed into the cache when needed."""
    return resolved(*options(args))


@functools.cache
def resolved(release_path: str | None, version: str | None, cache_dir: Path) -> str:
    """Resolves once per process, so the matcher and the metadata of one run
    read the same file and say so once."""
    if version == "latest" and not latest_path(cache_dir).exists():
        print(f"corvanta: downloading the latest HPO release into {cache_dir} "
              "(once; later runs reuse it)", file=sys.stderr)
    elif version not in (None, "latest") and not pinned_path(cache_dir, version).exists():
        print(f"corvanta: downloading HPO release {version} into "
              f"{pinned_path(cache_dir, version).parent}", file=sys.stderr)
    try:
        path = resolve_release_path(release_path, version, cache_dir)
    except DownloadError as error:
        raise fetch_failed(error) from None
    except OSError as error:
        raise CliError(EXIT_RELEASE, f"cannot read {release_path}: {error.strerror or error}") from None
    except ReleaseError as error:
        raise CliError(EXIT_RELEASE, str(error)) from None
    return path


def matcher_for(args: argparse.Namespace) -> corvanta.Corvanta:
    """The matcher the parsed release options name. Unless --hpo named the
    file, standard error gets one line saying which release is in use."""
    release_path, version, cache_dir = options(args)
    path = resolved(release_path, version, cache_dir)
    matcher = built(path, release_path, version)
    expected = EMBEDDED_VERSION if release_path is None and version is None else (
        None if version in (None, "latest") else version)
    if expected is not None and matcher.version() != expected:
        raise CliError(EXIT_RELEASE, f"the cached release {path} holds release "
                                     f"{matcher.version()}, not {expected}; delete it")
    if release_path is None:
        origin = "embedded" if version is None else path
        print(f"corvanta: HPO release {matcher.version()} ({origin})", file=sys.stderr)
    return matcher


def built(path: str, release_path: str | None, version: str | None) -> corvanta.Corvanta:
    try:
        return registry.matcher(path)
    except BaseException as error:  # OSError, or the extension's invariant failure
        failure = matcher_failed(error, path, release_path, latest=version == "latest")
        if failure is None:
            raise
        raise failure from None


def release_for(args: argparse.Namespace) -> Release:
    """The term metadata of the release the options name."""
    release_path, version, cache_dir = options(args)
    # A gzipped --hpo is read as given; the embedded release from its plain copy, as
    # the matcher reads it (no decompression for every run).
    path = release_path or resolved(release_path, version, cache_dir)
    try:
        return registry.release(path)
    except OSError as error:
        raise CliError(EXIT_RELEASE, f"cannot read {path}: {error.strerror or error}") from None
    except ReleaseError as error:
        raise CliError(EXIT_RELEASE, str(error)) from None

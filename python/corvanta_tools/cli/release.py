"""`corvanta release fetch|list|info|refresh`: the releases in the cache and
the one a run would use."""
from __future__ import annotations

import argparse
import datetime
import sys
from collections.abc import Callable, Sequence
from pathlib import Path

from corvanta_tools.cli.errors import EXIT_RELEASE, CliError
from corvanta_tools.cli.extension_errors import fetch_failed
from corvanta_tools.cli.matcher import (add_cache_dir_option, add_release_options, cache_dir_of,
                                        release_for)
from corvanta_tools.downloads import DownloadError
from corvanta_tools.embedded import EMBEDDED_RELEASE, EMBEDDED_VERSION
from corvanta_tools.release_cache import check_version, latest_path, pinned_releases
from corvanta_tools.releases import Release, ReleaseError, fetch_release, refresh_latest

__all__ = ["register"]


def version_argument(text: str) -> str:
    try:
        return check_version(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "release", help="fetch, list and describe HPO releases",
        description="HPO releases: pinned versions fetched into the cache directory, the "
                    "cached latest, and the release embedded in the package.")
    actions = parser.add_subparsers(dest="action", metavar="ACTION", required=True)
    for name, run, options, summary, description in ACTIONS:
        action = actions.add_parser(name, help=summary, description=description)
        if name == "fetch":
            action.add_argument("fetched_version", metavar="VERSION", type=version_argument,
                                help="a release date such as 2025-05-06")
        options(action)
        action.set_defaults(run=run)


def run_fetch(args: argparse.Namespace) -> int:
    cache_dir = cache_dir_of(args)
    try:
        path = fetch_release(args.fetched_version, cache_dir)
    except DownloadError as error:
        raise fetch_failed(error) from None
    except ReleaseError as error:
        raise CliError(EXIT_RELEASE, str(error)) from None
    print(path)
    return 0


def run_list(args: argparse.Namespace) -> int:
    cache_dir = cache_dir_of(args)
    rows = [(EMBEDDED_VERSION, "embedded", EMBEDDED_RELEASE)]
    latest = latest_path(cache_dir)
    if latest.is_file():
        rows.append((version_of(latest), "latest", latest))
    rows += [(pinned_version(version, path), "pinned", path)
             for version, path in pinned_releases(cache_dir)]
    table: list[tuple[str, ...]] = [("version", "kind", "size", "downloaded", "path")]
    for version, kind, path in rows:
        stat = path.stat()
        date = "-" if kind == "embedded" else (
            datetime.datetime.fromtimestamp(stat.st_mtime).strftime("%Y-%m-%d %H:%M"))
        table.append((version, kind, f"{stat.st_size / 1e6:.1f} MB", date, str(path)))
    print_table(table)
    return 0


def version_of(path: Path) -> str:
    try:
        return Release(path).version
    except (OSError, ReleaseError):
        return "unreadable"


def pinned_version(version: str, path: Path) -> str:
    """The version of a pinned release, flagged when the file holds another."""
    found = version_of(path)
    return version if found == version else f"{version} (holds {found})"


def print_table(rows: Sequence[tuple[str, ...]]) -> None:
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]) - 1)]
    for row in rows:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)) + "  " + row[-1])


def run_info(args: argparse.Namespace) -> int:
    release = release_for(args)
    kind = release_kind(args)
    print_table([
        ("version", release.version),
        ("kind", kind),
        ("HP terms", f"{release.term_count} current, {release.obsolete_count} obsolete"),
        ("alternative ids", str(release.alt_id_count)),
        ("path", str(EMBEDDED_RELEASE) if kind == "embedded" else release.path),
    ])
    return 0


def release_kind(args: argparse.Namespace) -> str:
    if getattr(args, "hpo", None) is not None:
        return "file"
    version = getattr(args, "release", None)
    return "embedded" if version is None else "latest" if version == "latest" else "pinned"


def run_refresh(args: argparse.Namespace) -> int:
    cache_dir = cache_dir_of(args)
    try:
        old, new = refresh_latest(cache_dir)
    except DownloadError as error:
        raise fetch_failed(error) from None
    print(f"latest HPO release: {old or 'none'} -> {new} ({latest_path(cache_dir)})")
    if old == new:
        print("corvanta: the cached latest release was already current", file=sys.stderr)
    return 0


Options = Callable[[argparse.ArgumentParser], None]
ACTIONS: tuple[tuple[str, Callable[[argparse.Namespace], int], Options, str, str], ...] = (
    ("fetch", run_fetch, add_cache_dir_option, "download a release by version (once)",
     "Download release VERSION into <cache>/releases/VERSION/hp.json unless it is there; "
     "print its path."),
    ("list", run_list, add_cache_dir_option, "the releases at hand",
     "The embedded release and the cached ones: version, kind, size, download date, path."),
    ("info", run_info, add_release_options, "describe the release a run would use",
     "Version, HP terms, obsolete terms, alternative ids and path of the release named by "
     "--hpo or --release (default: the embedded one)."),
    ("refresh", run_refresh, add_cache_dir_option, "replace the cached latest release",
     "Download the latest release and put it in place of the cached one in one step; the old "
     "file stays when anything fails."),
)

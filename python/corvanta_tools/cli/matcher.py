"""The release options every subcommand shares (--hpo, --cache-dir) and the
matcher they name."""
from __future__ import annotations

import argparse
import sys
from pathlib import Path

import corvanta
import platformdirs

from corvanta_tools.cli.errors import EXIT_FETCH, EXIT_RELEASE, CliError

__all__ = ["add_release_options", "load_matcher", "matcher_for", "user_cache_dir"]

_FETCH_FAILED = "failed to fetch/cache the HPO release: "


def user_cache_dir() -> Path:
    """Where releases are cached: the platform's per-user cache directory."""
    return Path(platformdirs.user_cache_dir("corvanta", appauthor=False))


def add_release_options(parser: argparse.ArgumentParser) -> None:
    """--hpo and --cache-dir; absent options stay absent from the namespace, so
    that the top level and a subcommand may both take them."""
    parser.add_argument("--hpo", metavar="PATH", default=argparse.SUPPRESS,
                        help="HPO release file (hp.json); default: the latest release, "
                             "downloaded once into the cache directory")
    parser.add_argument("--cache-dir", metavar="DIR", type=Path, default=argparse.SUPPRESS,
                        help=f"cache directory for releases (default: {user_cache_dir()})")


def load_matcher(hpo: str | None, cache_dir: Path) -> corvanta.Corvanta:
    """The matcher for `hpo`, else for the cached latest release (fetched on first use)."""
    cached = cache_dir / "hp.json"
    if hpo is None and not cached.exists():
        print(f"corvanta: downloading the latest HPO release into {cache_dir} "
              "(once; later runs reuse it)", file=sys.stderr)
    try:
        if hpo is not None:
            return corvanta.Corvanta(hpo)
        return corvanta.Corvanta.fetch_latest(str(cache_dir))
    except OSError as error:
        message = str(error)
        if message.startswith(_FETCH_FAILED):
            raise CliError(EXIT_FETCH, message) from None
        if hpo is None:
            message += f" (remove {cached} to download the latest release again)"
        raise CliError(EXIT_RELEASE, message) from None
    except (KeyboardInterrupt, SystemExit, GeneratorExit, Exception):
        raise
    except BaseException as error:  # the extension's invariant failures: a broken release
        raise CliError(EXIT_RELEASE, f"unusable HPO release {hpo or cached}: {error}") from None


def matcher_for(args: argparse.Namespace) -> corvanta.Corvanta:
    """The matcher the parsed release options name."""
    return load_matcher(getattr(args, "hpo", None), getattr(args, "cache_dir", user_cache_dir()))

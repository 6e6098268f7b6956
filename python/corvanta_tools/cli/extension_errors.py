"""The extension's failures as the command's error kinds, in one place.

The extension tells its failures apart by the start of an OSError's message
(loading the file, building the matcher, fetching a release: all of them a
release the command cannot use, except the fetch) and reports a broken
invariant of the release file (a release without a version, say) as its own
exception type derived directly from BaseException, which the module does
not export: that one is recognised by its module, name and base."""
from __future__ import annotations

from corvanta_tools.cli.errors import EXIT_FETCH, EXIT_RELEASE, CliError
from corvanta_tools.cli.release_hints import release_hint
from corvanta_tools.downloads import DownloadError

__all__ = ["FETCH_FAILED", "fetch_failed", "is_invariant_failure", "matcher_failed"]

FETCH_FAILED = "failed to fetch/cache the HPO release: "
# The end of the message of a file that does not parse as a graph document.
UNREADABLE_GRAPH = "Reading graph document"


def is_invariant_failure(error: BaseException) -> bool:
    """Whether `error` is the extension's failure of a release's invariant."""
    kind = type(error)
    return (kind.__module__ == "corvanta" and kind.__name__ == "InvariantError"
            and kind.__bases__ == (BaseException,))


def fetch_failed(error: DownloadError) -> CliError:
    """A failed download of the toolkit's, worded as the extension words its own."""
    return CliError(EXIT_FETCH, FETCH_FAILED + str(error))


def matcher_failed(error: BaseException, path: str, named: str | None = None,
                   latest: bool = False) -> CliError | None:
    """The command's error for a failure of `Corvanta(path)` or
    `Corvanta.fetch_latest`; None when `error` is none of the extension's
    (the caller raises it on). `named` is the file the user named, when
    `path` is a copy of it; `latest` that `path` is the cached latest."""
    if is_invariant_failure(error):
        return CliError(EXIT_RELEASE, f"unusable HPO release {named or path}: {error}")
    if not isinstance(error, OSError):
        return None
    message = str(error)
    if message.startswith(FETCH_FAILED):
        return CliError(EXIT_FETCH, message)
    if message.endswith(UNREADABLE_GRAPH):
        message += release_hint(path)
    if latest:
        message += f" (remove {path} to download the latest release again)"
    elif named is not None and path != named:
        message += f" (decompressed from {named})"
    return CliError(EXIT_RELEASE, message)

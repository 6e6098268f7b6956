"""Exit codes of the `corvanta` command and the error that carries one."""
from __future__ import annotations

__all__ = ["EXIT_BROKEN_PIPE", "EXIT_FETCH", "EXIT_INPUT", "EXIT_INTERRUPTED", "EXIT_OUTPUT",
           "EXIT_RELEASE", "EXIT_USAGE", "CliError", "missing_extra"]

# 0 success, 2 bad usage (argparse's), and one code per failure a pipeline may
# want to tell apart.
EXIT_USAGE = 2
EXIT_INPUT = 3  # an input file is missing, unreadable or not text in the encoding
EXIT_RELEASE = 4  # the release file is missing or is not a usable HPO release
EXIT_FETCH = 5  # a release could not be downloaded into the cache
EXIT_OUTPUT = 6  # the output file cannot be written
EXIT_INTERRUPTED = 130
EXIT_BROKEN_PIPE = 141


class CliError(Exception):
    """A failure the command reports as one line, with its exit code."""

    def __init__(self, code: int, message: str) -> None:
        super().__init__(message)
        self.code = code


def missing_extra(command: str, extra: str, error: ImportError) -> CliError:
    """The usage error of `corvanta COMMAND` when a package of its extra is missing."""
    return CliError(EXIT_USAGE, f"corvanta {command} needs the [{extra}] extra "
                                f"(pip install 'corvanta[{extra}]'): {error}")

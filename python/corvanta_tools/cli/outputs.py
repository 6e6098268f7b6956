"""Where `corvanta annotate` writes: standard output, one file, or a
directory of files. A file is written under a temporary name in its own
directory and renamed over the target once complete, so a run that fails
leaves any previous output as it was."""
from __future__ import annotations

import contextlib
import functools
import os
import stat
import sys
from collections.abc import Iterable, Iterator
from pathlib import Path
from typing import TextIO, cast

from corvanta_tools import atomic
from corvanta_tools.cli.errors import EXIT_OUTPUT, EXIT_USAGE, CliError
from corvanta_tools.cli.inputs import display_name
from corvanta_tools.formats import DIRECTORY_WRITERS, WRITERS, FileWriter, Writer
from corvanta_tools.records import Document

__all__ = ["FORMATS", "atomic_file", "write_output"]

FORMATS = sorted(WRITERS.keys() | DIRECTORY_WRITERS.keys())


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


@contextlib.contextmanager
def atomic_file(path: str) -> Iterator[TextIO]:
    """A text stream (UTF-8, line ends as written) that replaces `path` when
    the block completes, keeping its permissions, and vanishes when it fails. A target that exists
    but is no regular file (a terminal, a pipe, /dev/null) is written
    directly."""
    try:
        mode: int | None = os.stat(path).st_mode
    except FileNotFoundError:
        mode = None
    if mode is not None and not stat.S_ISREG(mode):
        with open(path, "w", encoding="utf-8", newline="") as out:
            yield out
        return
    # The permissions the file had, or those a new file gets.
    permissions = stat.S_IMODE(mode) if mode is not None else 0o666 & ~_umask()
    with atomic.atomic_file(path, "w", permissions, ".part", "utf-8", "") as out:
        yield cast(TextIO, out)


def _is_directory_target(format: str, output: str | None) -> bool:
    if format not in DIRECTORY_WRITERS:
        return False
    if format not in WRITERS:
        return True
    return output is not None and (output.endswith(("/", os.sep)) or os.path.isdir(output))


def _write_stream(write: Writer, output: str | None, version: str,
                  documents: Iterable[Document]) -> None:
    with contextlib.ExitStack() as stack:
        out = stack.enter_context(atomic_file(output)) if output else sys.stdout
        write(out, version, documents)
        out.flush()


def _write_directory(files: FileWriter, directory: str, version: str,
                     documents: Iterable[Document]) -> None:
    Path(directory).mkdir(parents=True, exist_ok=True)
    for name, content in files(version, documents):
        path = os.path.join(directory, name)
        try:
            with atomic_file(path) as out:
                out.write(content)
        except OSError as error:
            raise CliError(EXIT_OUTPUT, f"cannot write {display_name(path)}: "
                                        f"{error.strerror or error}") from None


def write_output(format: str, output: str | None, version: str, documents: Iterable[Document],
                 subject: str | None = None) -> None:
    """Writes the documents in `format` to `output` (standard output when
    None; a directory for brat, and for phenopacket when it names one)."""
    options = {"subject": subject} if format == "phenopacket" and subject else {}
    directory = _is_directory_target(format, output)
    if directory and output is None:
        raise CliError(EXIT_USAGE, f"--format {format} writes a directory: give -o DIR")
    target = display_name(output) if output else "standard output"
    try:
        if directory:
            assert output is not None
            files = functools.partial(DIRECTORY_WRITERS[format], **options)
            _write_directory(files, output, version, documents)
        else:
            _write_stream(functools.partial(WRITERS[format], **options), output, version, documents)
    except BrokenPipeError:
        raise
    except OSError as error:  # inputs report their own failures: this one is the output's
        raise CliError(EXIT_OUTPUT, f"cannot write {target}: {error.strerror or error}") from None

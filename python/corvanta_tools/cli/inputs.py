"""The inputs of `corvanta annotate`: files, directories, standard input."""
from __future__ import annotations

import sys
from pathlib import Path

from corvanta_tools.cli.errors import EXIT_INPUT, EXIT_USAGE, CliError

__all__ = ["STDIN", "check_glob", "display_name", "expand_inputs", "read_input"]

STDIN = "-"


def display_name(name: str) -> str:
    """`name` as it can be printed: bytes of a file name that are not UTF-8
    (held by Python as surrogate escapes) become replacement characters."""
    return name.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


def check_glob(pattern: str) -> str:
    """A --glob pattern that stays inside the directory it is applied to."""
    parts = Path(pattern).parts
    if not pattern or Path(pattern).is_absolute() or ".." in parts:
        raise CliError(EXIT_USAGE, f"--glob {display_name(pattern)!r}: give a pattern relative to "
                                   "the directory, without '..' (such as *.txt or notes/*.txt)")
    return pattern


def expand_inputs(names: list[str], pattern: str, contained: bool = False) -> list[str]:
    """Files as given; a directory stands for its files matching `pattern`,
    recursively, in sorted order (with `contained`, those that are links to a
    file outside it are skipped with a warning). Fails before any work when
    one is missing."""
    inputs: list[str] = []
    for name in names:
        path = Path(name)
        if name != STDIN and path.is_dir():
            found = sorted(str(p) for p in path.rglob(pattern)
                           if p.is_file() and (not contained or _inside(p, path)))
            if not found:
                raise CliError(EXIT_INPUT, f"no files matching {pattern} in {display_name(name)}")
            inputs.extend(found)
        elif name == STDIN or path.exists():  # pipes such as <(zcat notes.gz) included
            inputs.append(name)
        else:
            raise CliError(EXIT_INPUT, f"cannot read {display_name(name)}: no such file or directory")
    return inputs


def _inside(file: Path, directory: Path) -> bool:
    """Whether `file`, links followed, lies in `directory`; warns when not."""
    if file.resolve().is_relative_to(directory.resolve()):
        return True
    print(f"corvanta: warning: skipping {display_name(str(file))}: a link to a file outside "
          f"{display_name(str(directory))}", file=sys.stderr)
    return False


def read_input(name: str, encoding: str) -> str:
    try:
        data = sys.stdin.buffer.read() if name == STDIN else Path(name).read_bytes()
        return data.decode(encoding)
    except OSError as error:
        raise CliError(EXIT_INPUT, f"cannot read {display_name(name)}: "
                                   f"{error.strerror or error}") from None
    except UnicodeDecodeError as error:
        raise CliError(EXIT_INPUT, f"cannot read {display_name(name)}: not {encoding} text ({error.reason} at "
                                   f"byte {error.start}); see --encoding") from None

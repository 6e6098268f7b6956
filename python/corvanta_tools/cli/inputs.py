"""The inputs of `corvanta annotate`: files, directories, standard input."""
from __future__ import annotations

import sys
from pathlib import Path

from corvanta_tools.cli.errors import EXIT_INPUT, CliError

__all__ = ["STDIN", "expand_inputs", "read_input"]

STDIN = "-"


def expand_inputs(names: list[str], pattern: str) -> list[str]:
    """Files as given; a directory stands for its files matching `pattern`,
    recursively, in sorted order. Fails before any work when one is missing."""
    inputs: list[str] = []
    for name in names:
        path = Path(name)
        if name != STDIN and path.is_dir():
            found = sorted(str(p) for p in path.rglob(pattern) if p.is_file())
            if not found:
                raise CliError(EXIT_INPUT, f"no files matching {pattern} in {name}")
            inputs.extend(found)
        elif name == STDIN or path.exists():  # pipes such as <(zcat notes.gz) included
            inputs.append(name)
        else:
            raise CliError(EXIT_INPUT, f"cannot read {name}: no such file or directory")
    return inputs


def read_input(name: str, encoding: str) -> str:
    try:
        data = sys.stdin.buffer.read() if name == STDIN else Path(name).read_bytes()
        return data.decode(encoding)
    except OSError as error:
        raise CliError(EXIT_INPUT, f"cannot read {name}: {error.strerror or error}") from None
    except UnicodeDecodeError as error:
        raise CliError(EXIT_INPUT, f"cannot read {name}: not {encoding} text ({error.reason} at "
                                   f"byte {error.start}); see --encoding") from None

"""`corvanta annotate`: text files in, one record per hit out."""
from __future__ import annotations

import argparse
import codecs
import contextlib
import os
import sys
from collections.abc import Callable, Iterable, Iterator
from typing import TextIO

import corvanta
from tqdm import tqdm

from corvanta_tools.cli.errors import EXIT_OUTPUT, EXIT_USAGE, CliError
from corvanta_tools.cli.inputs import STDIN, check_glob, display_name, expand_inputs, read_input
from corvanta_tools.cli.matcher import add_release_options, matcher_for
from corvanta_tools.records import Document, write_jsonl, write_table, write_tsv
from corvanta_tools.report import write_html
from corvanta_tools.scale import annotate_many

__all__ = ["WRITERS", "register"]

# Below this many inputs a progress bar would only flicker.
PROGRESS_MIN_INPUTS = 10

Writer = Callable[[TextIO, str, Iterable[Document]], None]
WRITERS: dict[str, Writer] = {"tsv": write_tsv, "jsonl": write_jsonl, "html": write_html,
                              "table": write_table}


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "annotate", help="annotate text files",
        description="Annotate text files (or standard input) with HPO concepts: one line or "
                    "record per hit.")
    add_release_options(parser)
    parser.add_argument("files", nargs="*", metavar="FILE",
                        help="text files, directories (their files matching --glob) or - for "
                             "standard input (the default when input is piped)")
    parser.add_argument("--longest", action="store_true",
                        help="drop clustering matches nested inside longer ones (map_text_longest)")
    parser.add_argument("--format", choices=sorted(WRITERS), default="tsv",
                        help="tsv (default), jsonl, html (a self-contained visual report) or "
                             "table (aligned, for reading)")
    parser.add_argument("-o", "--output", metavar="PATH",
                        help="write here instead of standard output")
    parser.add_argument("--glob", default="*.txt",
                        help="files taken from directories (default: *.txt)")
    parser.add_argument("--encoding", default="utf-8",
                        help="encoding of the input files (default: utf-8)")
    parser.add_argument("-j", "--jobs", type=positive_int, default=1, metavar="N",
                        help="recognize on N threads sharing one matcher; output order is "
                             "unchanged (default: 1)")
    parser.set_defaults(run=run)


def positive_int(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


def progress_bar(total: int) -> tqdm[None]:
    """A progress bar on a terminal's stderr for larger batches; silent otherwise."""
    shown = total >= PROGRESS_MIN_INPUTS and sys.stderr.isatty()
    # A terminal that reports no size (a bare pty) would get no bar at all.
    size = os.get_terminal_size(sys.stderr.fileno()) if shown else None
    return tqdm(total=total, unit=" documents", file=sys.stderr, desc="corvanta",
                ncols=size and (size.columns or 80), nrows=size and (size.lines or 24),
                disable=not shown)


def read_notes(inputs: list[str], encoding: str) -> Iterator[tuple[str, str]]:
    for name in inputs:
        yield "<stdin>" if name == STDIN else display_name(name), read_input(name, encoding)


def annotated(matcher: corvanta.Corvanta, inputs: list[str], encoding: str, longest: bool,
              jobs: int, progress: tqdm[None]) -> Iterator[Document]:
    for document in annotate_many(matcher, read_notes(inputs, encoding), jobs, longest):
        yield document
        progress.update()


def run(args: argparse.Namespace) -> int:
    files = args.files
    if not files:
        if sys.stdin.isatty():
            raise CliError(EXIT_USAGE, "no input: name FILEs or pipe text into standard input")
        files = [STDIN]
    try:
        codecs.lookup(args.encoding)
    except LookupError:
        raise CliError(EXIT_USAGE, f"unknown encoding {args.encoding}") from None
    inputs = expand_inputs(files, check_glob(args.glob))
    matcher = matcher_for(args)
    write = WRITERS[args.format]
    target = args.output or "standard output"
    with progress_bar(len(inputs)) as progress:
        documents = annotated(matcher, inputs, args.encoding, args.longest, args.jobs, progress)
        try:
            with contextlib.ExitStack() as stack:
                out = (stack.enter_context(open(args.output, "w", encoding="utf-8"))
                       if args.output else sys.stdout)
                write(out, matcher.version(), documents)
                out.flush()
        except BrokenPipeError:
            raise
        except OSError as error:  # inputs report their own failures: this one is the output's
            raise CliError(EXIT_OUTPUT, f"cannot write {target}: {error.strerror or error}") from None
    return 0

"""The `corvanta` command."""
from __future__ import annotations

import argparse
import codecs
import contextlib
import importlib.metadata
import os
import sys
import time
from collections.abc import Callable, Iterable, Iterator
from pathlib import Path
from typing import TextIO

import corvanta

from corvanta_cli.records import Document, annotate, write_jsonl, write_table, write_tsv
from corvanta_cli.report import write_html

__all__ = ["EXIT_FETCH", "EXIT_INPUT", "EXIT_OUTPUT", "EXIT_RELEASE", "EXIT_USAGE", "main",
           "user_cache_dir"]

# Exit codes: 0 success, 2 bad usage (argparse's), and one code per failure a
# pipeline may want to tell apart.
EXIT_USAGE = 2
EXIT_INPUT = 3  # an input file is missing, unreadable or not text in the encoding
EXIT_RELEASE = 4  # the release file is missing or is not a usable HPO release
EXIT_FETCH = 5  # the latest release could not be downloaded into the cache
EXIT_OUTPUT = 6  # the output file cannot be written
EXIT_INTERRUPTED = 130
EXIT_BROKEN_PIPE = 141

# Below this many inputs a progress bar would only flicker.
PROGRESS_MIN_INPUTS = 10

Writer = Callable[[TextIO, str, Iterable[Document]], None]
WRITERS: dict[str, Writer] = {"tsv": write_tsv, "jsonl": write_jsonl, "html": write_html,
                              "table": write_table}

_FETCH_FAILED = "failed to fetch/cache the HPO release: "
STDIN = "-"


class CliError(Exception):
    def __init__(self, code: int, message: str) -> None:
        super().__init__(message)
        self.code = code


def package_version() -> str:
    try:
        return importlib.metadata.version("corvanta")
    except importlib.metadata.PackageNotFoundError:
        return "unknown"


def user_cache_dir() -> Path:
    """Where the latest release is cached: the platform's per-user cache directory."""
    home = Path.home()
    if sys.platform == "win32":
        return Path(os.environ.get("LOCALAPPDATA") or home / "AppData" / "Local") / "corvanta" / "Cache"
    if sys.platform == "darwin":
        return home / "Library" / "Caches" / "corvanta"
    return Path(os.environ.get("XDG_CACHE_HOME") or home / ".cache") / "corvanta"


def load_matcher(hpo: str | None, cache_dir: Path) -> corvanta.Corvanta:
    """The matcher for --hpo, else for the cached latest release (fetched on first use)."""
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


class Progress:
    """A one-line progress bar on a terminal's stderr; silent otherwise."""

    WIDTH = 30

    def __init__(self, total: int, stream: TextIO) -> None:
        self.total = total
        self.done = 0
        self.stream = stream
        self.enabled = total >= PROGRESS_MIN_INPUTS and stream.isatty()
        self.shown_at = 0.0

    def advance(self) -> None:
        self.done += 1
        now = time.monotonic()
        if self.enabled and (now - self.shown_at >= 0.1 or self.done == self.total):
            self.shown_at = now
            filled = self.WIDTH * self.done // self.total
            self.stream.write(f"\rcorvanta: [{'#' * filled}{'.' * (self.WIDTH - filled)}] "
                              f"{self.done}/{self.total} documents")
            self.stream.flush()

    def close(self) -> None:
        if self.enabled and self.done:
            self.stream.write("\n")
            self.stream.flush()


def annotated(matcher: corvanta.Corvanta, inputs: list[str], encoding: str, longest: bool,
              progress: Progress) -> Iterator[Document]:
    for name in inputs:
        document_id = "<stdin>" if name == STDIN else name
        yield annotate(matcher, document_id, read_input(name, encoding), longest)
        progress.advance()


def build_parser() -> argparse.ArgumentParser:
    release = argparse.ArgumentParser(add_help=False)
    release.add_argument("--hpo", metavar="PATH", default=argparse.SUPPRESS,
                         help="HPO release file (hp.json); default: the latest release, "
                              "downloaded once into the cache directory")
    release.add_argument("--cache-dir", metavar="DIR", type=Path, default=argparse.SUPPRESS,
                         help=f"cache directory for the latest release (default: {user_cache_dir()})")

    parser = argparse.ArgumentParser(
        prog="corvanta", parents=[release],
        description="Find Human Phenotype Ontology concepts in clinical text.",
        epilog=f"exit codes: {EXIT_USAGE} usage, {EXIT_INPUT} input file, {EXIT_RELEASE} bad "
               f"release, {EXIT_FETCH} download failed, {EXIT_OUTPUT} output not writable")
    parser.add_argument("--version", action="store_true",
                        help="print the package version (and, with --hpo, the release's) and exit")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")

    run = commands.add_parser(
        "annotate", parents=[release], help="annotate text files",
        description="Annotate text files (or standard input) with HPO concepts: one line or "
                    "record per hit.")
    run.add_argument("files", nargs="*", metavar="FILE",
                     help="text files, directories (their files matching --glob) or - for "
                          "standard input (the default when input is piped)")
    run.add_argument("--longest", action="store_true",
                     help="drop clustering matches nested inside longer ones (map_text_longest)")
    run.add_argument("--format", choices=sorted(WRITERS), default="tsv",
                     help="tsv (default), jsonl, html (a self-contained visual report) or "
                          "table (aligned, for reading)")
    run.add_argument("-o", "--output", metavar="PATH", help="write here instead of standard output")
    run.add_argument("--glob", default="*.txt", help="files taken from directories (default: *.txt)")
    run.add_argument("--encoding", default="utf-8", help="encoding of the input files (default: utf-8)")
    return parser


def run_annotate(args: argparse.Namespace) -> int:
    files = args.files
    if not files:
        if sys.stdin.isatty():
            raise CliError(EXIT_USAGE, "no input: name FILEs or pipe text into standard input")
        files = [STDIN]
    try:
        codecs.lookup(args.encoding)
    except LookupError:
        raise CliError(EXIT_USAGE, f"unknown encoding {args.encoding}") from None
    inputs = expand_inputs(files, args.glob)
    matcher = load_matcher(getattr(args, "hpo", None), getattr(args, "cache_dir", user_cache_dir()))
    progress = Progress(len(inputs), sys.stderr)
    documents = annotated(matcher, inputs, args.encoding, args.longest, progress)
    write = WRITERS[args.format]
    target = args.output or "standard output"
    try:
        with contextlib.ExitStack() as stack:
            out = stack.enter_context(open(args.output, "w", encoding="utf-8")) if args.output else sys.stdout
            write(out, matcher.version(), documents)
            out.flush()
    except BrokenPipeError:
        raise
    except OSError as error:  # inputs report their own failures: this one is the output's
        raise CliError(EXIT_OUTPUT, f"cannot write {target}: {error.strerror or error}") from None
    finally:
        progress.close()
    return 0


def print_version(args: argparse.Namespace) -> int:
    line = f"corvanta {package_version()}"
    if getattr(args, "hpo", None) is not None:
        line += f", HPO release {load_matcher(args.hpo, user_cache_dir()).version()}"
    print(line)
    return 0


def main(argv: list[str] | None = None) -> int:
    """Runs the command line; returns the exit code."""
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        if args.version:
            return print_version(args)
        if args.command != "annotate":
            parser.print_help(sys.stderr)
            return EXIT_USAGE
        return run_annotate(args)
    except CliError as error:
        sys.stdout.flush()
        print(f"corvanta: error: {error}", file=sys.stderr)
        return error.code
    except KeyboardInterrupt:
        print("\ncorvanta: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # The reader went away (`| head`); say nothing more on a closed pipe.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_BROKEN_PIPE

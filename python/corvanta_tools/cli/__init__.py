"""The `corvanta` command: one module per subcommand, each registering itself
with `register(commands)` and running through the `run` default it sets."""
from __future__ import annotations

import argparse
import io
import os
import sys

from corvanta_tools.cli import annotate, evaluate, index, query, release, serve
from corvanta_tools.cli.errors import (EXIT_BROKEN_PIPE, EXIT_FETCH, EXIT_INPUT, EXIT_INTERRUPTED,
                                       EXIT_OUTPUT, EXIT_RELEASE, EXIT_USAGE, CliError)
from corvanta_tools.cli.matcher import add_release_options, matcher_for, user_cache_dir
from corvanta_tools.version import package_version

__all__ = ["EXIT_FETCH", "EXIT_INPUT", "EXIT_OUTPUT", "EXIT_RELEASE", "EXIT_USAGE", "main",
           "package_version", "user_cache_dir"]

SUBCOMMANDS = (annotate, evaluate, index, query, release, serve)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="corvanta",
        description="Find Human Phenotype Ontology concepts in clinical text.",
        epilog=f"exit codes: {EXIT_USAGE} usage, {EXIT_INPUT} input file, {EXIT_RELEASE} bad "
               f"release, {EXIT_FETCH} download failed, {EXIT_OUTPUT} output not writable")
    add_release_options(parser)
    parser.add_argument("--version", action="store_true",
                        help="print the package version (and, with --hpo, the release's) and exit")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    for subcommand in SUBCOMMANDS:
        subcommand.register(commands)
    return parser


def print_version(args: argparse.Namespace) -> int:
    line = f"corvanta {package_version()}"
    if getattr(args, "hpo", None) is not None or getattr(args, "release", None) is not None:
        line += f", HPO release {matcher_for(args).version()}"
    print(line)
    return 0


def main(argv: list[str] | None = None) -> int:
    """Runs the command line; returns the exit code."""
    # Every format declares or implies UTF-8, whatever the locale says.
    if isinstance(sys.stdout, io.TextIOWrapper):
        sys.stdout.reconfigure(encoding="utf-8")
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        if args.version:
            return print_version(args)
        if args.command is None:
            parser.print_help(sys.stderr)
            return EXIT_USAGE
        code: int = args.run(args)
        return code
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

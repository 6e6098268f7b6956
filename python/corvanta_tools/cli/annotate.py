"""`corvanta annotate`: documents in (text files, or BioC, PubTator or brat),
annotated documents out in any of the formats."""
from __future__ import annotations

import argparse
import codecs
import os
import sys
from collections.abc import Iterable, Iterator
from typing import NoReturn

from tqdm import tqdm

from corvanta_tools.assessment import ASSERTIONS, DEFAULT_ASSERTION, check_assertion
from corvanta_tools.cli.errors import EXIT_INPUT, EXIT_USAGE, CliError
from corvanta_tools.cli.inputs import STDIN, check_glob
from corvanta_tools.cli.matcher import add_release_options, matcher_for, release_for
from corvanta_tools.cli.outputs import FORMATS, write_output
from corvanta_tools.cli.patients import add_patient_options, patient_rows, write_patients
from corvanta_tools.cli.profile import add_profile_option, profile_of
from corvanta_tools.cli.sources import (INPUT_FORMATS, Skips, annotated_sources, expanded,
                                        read_sources)
from corvanta_tools.formats import check_available
from corvanta_tools.records import Document

__all__ = ["register"]

# Below this many inputs a progress bar would only flicker.
PROGRESS_MIN_INPUTS = 10


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
    add_profile_option(parser)
    parser.add_argument("--format", choices=FORMATS, default="tsv",
                        help="tsv (default), jsonl, html (a self-contained visual report), "
                             "table (aligned, for reading), phenopacket (JSON lines, or "
                             "DIR/<id>.json with -o DIR/), bioc-xml, bioc-json, pubtator, or "
                             "brat (with -o DIR)")
    parser.add_argument("--input-format", choices=INPUT_FORMATS, default="text",
                        help="text (default); bioc-xml, bioc-json or pubtator (every passage "
                             "annotated, written back with the annotations added in the same "
                             "format); brat (the .txt files of a brat directory)")
    parser.add_argument("-o", "--output", metavar="PATH",
                        help="write here instead of standard output (a directory for brat)")
    parser.add_argument("--subject", metavar="ID",
                        help="the subject id of every Phenopacket (default: the document id)")
    add_patient_options(parser)
    parser.add_argument("--keep-going", action="store_true",
                        help="report an input that cannot be read, skip it and go on; exit "
                             f"{EXIT_INPUT} at the end if any was skipped")
    parser.add_argument("--glob", default="*.txt",
                        help="files taken from directories (default: *.txt)")
    parser.add_argument("--encoding",
                        help="encoding of the input files, whatever their --input-format "
                             "(default: utf-8; for bioc-xml, the one the file declares)")
    parser.add_argument("--assertion", choices=ASSERTIONS, default=DEFAULT_ASSERTION,
                        help="how each mention's assertion status (negated, uncertain, "
                             "historical, hypothetical, family, and the triggers) is found: "
                             "context (default): the toolkit's own ConText; medspacy: "
                             "medspaCy's ConText (the [medspacy] extra); library: not at all, "
                             "only the library's negation flag (excluded)")
    parser.add_argument("-j", "--jobs", type=positive_int, default=1, metavar="N",
                        help="recognize on N threads sharing one matcher; output order is "
                             "unchanged (default: 1)")
    parser.set_defaults(run=run)


def positive_int(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


def progress_bar(total: int) -> tqdm[NoReturn]:
    """A progress bar on a terminal's stderr for larger batches; silent otherwise."""
    shown = total >= PROGRESS_MIN_INPUTS and sys.stderr.isatty()
    # A terminal that reports no size (a bare pty) would get no bar at all.
    size = os.get_terminal_size(sys.stderr.fileno()) if shown else None
    return tqdm(total=total, unit=" documents", file=sys.stderr, desc="corvanta",
                ncols=size and (size.columns or 80), nrows=size and (size.lines or 24),
                disable=not shown)


def counted(documents: Iterable[Document], progress: tqdm[NoReturn]) -> Iterator[Document]:
    for document in documents:
        yield document
        progress.update()


def run(args: argparse.Namespace) -> int:
    files = args.files
    if not files:
        if sys.stdin.isatty():
            raise CliError(EXIT_USAGE, "no input: name FILEs or pipe text into standard input")
        files = [STDIN]
    try:
        codecs.lookup(args.encoding or "utf-8")
    except LookupError:
        raise CliError(EXIT_USAGE, f"unknown encoding {args.encoding}") from None
    try:
        for name in (args.format, args.input_format):
            check_available(name)
        check_assertion(args.assertion)
    except ModuleNotFoundError as error:
        raise CliError(EXIT_USAGE, str(error)) from None
    profile = profile_of(args)
    skips = Skips(args.keep_going)
    # A brat directory is one whole: a link in it does not reach outside it.
    inputs = expanded(files, check_glob(args.glob), skips, args.input_format == "brat")
    rows = patient_rows(args, inputs)
    matcher = matcher_for(args)
    release = release_for(args)
    # One document per input file, unless a file holds a collection.
    per_file = args.input_format in ("text", "brat")
    with progress_bar(len(inputs) if per_file else 0) as progress:
        sources = read_sources(inputs, args.input_format, args.encoding, skips)
        documents = annotated_sources(matcher, sources, args.jobs, args.longest, release,
                                      args.assertion, profile)
        if rows is not None:
            write_patients(args, release, counted(documents, progress), rows)
        else:
            write_output(args.format, args.output, release.version, counted(documents, progress),
                         args.subject)
    if skips.count:
        print(f"corvanta: {skips.count} inputs skipped", file=sys.stderr)
        return EXIT_INPUT
    return 0

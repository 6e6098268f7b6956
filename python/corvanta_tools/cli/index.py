"""`corvanta index`: notes into a phenotype index (DuckDB, or Parquet files)
that `corvanta query` searches by patient."""
from __future__ import annotations

import argparse
import os
import sys

from corvanta_tools.assessment import ASSERTIONS, DEFAULT_ASSERTION, check_assertion
from corvanta_tools.cli.annotate import positive_int
from corvanta_tools.cli.errors import EXIT_OUTPUT, EXIT_USAGE, CliError, missing_extra
from corvanta_tools.cli.inputs import check_glob, display_name
from corvanta_tools.cli.matcher import add_release_options, matcher_for, release_for
from corvanta_tools.cli.patients import mapped_rows
from corvanta_tools.cli.sources import Skips, annotated_sources, expanded, read_sources

__all__ = ["register"]


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "index", help="index notes for cohort queries",
        description="Annotate text notes and add their mentions (patient, note, term, spans, "
                    "text, assertion status) to a phenotype index with the release's terms and "
                    "is-a hierarchy; indexing into an existing index appends.")
    add_release_options(parser)
    parser.add_argument("files", nargs="+", metavar="NOTE",
                        help="text files, or directories (their files matching --glob)")
    parser.add_argument("--patients", metavar="MAP.csv",
                        help="the patient (and date) of each note: a CSV file with the columns "
                             "note, patient and optionally date (default: each note is a patient)")
    parser.add_argument("-o", "--output", required=True, metavar="PATH",
                        help="the index: a DuckDB file, or a directory with --format parquet")
    parser.add_argument("--format", choices=("duckdb", "parquet"), default="duckdb",
                        help="duckdb (default): one file; parquet: a directory of Parquet files")
    parser.add_argument("--longest", action="store_true",
                        help="drop clustering matches nested inside longer ones")
    parser.add_argument("--glob", default="*.txt",
                        help="files taken from directories (default: *.txt)")
    parser.add_argument("--encoding", default="utf-8",
                        help="encoding of the input files (default: utf-8)")
    parser.add_argument("--assertion", choices=ASSERTIONS, default=DEFAULT_ASSERTION,
                        help="how each mention's assertion status is found: context (default, "
                             "the toolkit's ConText), medspacy, or library (only its negation)")
    parser.add_argument("-j", "--jobs", type=positive_int, default=1, metavar="N",
                        help="recognize on N threads sharing one matcher (default: 1)")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    try:
        from corvanta_tools.cohort import CohortError, index_documents
        from corvanta_tools.cohort.store import check_release
        import duckdb  # noqa: F401 (imported where the index is read and written)
    except ModuleNotFoundError as error:
        raise missing_extra("index", "cohort", error) from None
    try:
        check_assertion(args.assertion)
    except ModuleNotFoundError as error:
        raise CliError(EXIT_USAGE, str(error)) from None
    inputs = expanded(args.files, check_glob(args.glob), Skips(False))
    rows = mapped_rows(args.patients, inputs) if args.patients is not None else None
    parquet = args.format == "parquet"
    target = os.path.join(args.output, "") if parquet else args.output
    release = release_for(args)
    try:
        check_release(target, release.version)
    except CohortError as error:
        raise CliError(EXIT_USAGE, str(error)) from None
    matcher = matcher_for(args)
    sources = read_sources(inputs, "text", args.encoding, Skips(False))
    documents = annotated_sources(matcher, sources, args.jobs, args.longest, release,
                                  args.assertion)
    try:
        added = index_documents(target, documents, release, rows, parquet)
    except CohortError as error:
        raise CliError(EXIT_USAGE, str(error)) from None
    except OSError as error:
        raise CliError(EXIT_OUTPUT, f"cannot write {display_name(args.output)}: "
                                    f"{error.strerror or error}") from None
    print(f"corvanta: {added} mentions of {len(inputs)} notes indexed in "
          f"{display_name(args.output)}", file=sys.stderr)
    return 0

"""`corvanta query`: the patients (or notes) of a phenotype index with every
given term or a descendant, affirmed and the patient's own."""
from __future__ import annotations

import argparse
import json
import sys

from corvanta_tools.cli.errors import EXIT_INPUT, EXIT_USAGE, CliError, missing_extra

__all__ = ["register"]


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "query", help="find patients in a phenotype index",
        description="The patients of an index (corvanta index) whose own affirmed mentions "
                    "include every TERM or one of its descendants, with their counts of "
                    "matching notes and mentions.")
    parser.add_argument("index", metavar="INDEX", help="a DuckDB file or a Parquet directory")
    parser.add_argument("terms", nargs="+", metavar="TERM", help="HP ids such as HP:0001250")
    parser.add_argument("--not", dest="exclude", action="append", default=[], metavar="TERM",
                        help="leave out patients with this term (or a descendant); repeatable")
    parser.add_argument("--notes", action="store_true",
                        help="the notes that have every term, not the patients")
    parser.add_argument("--include-negated", action="store_true", help="count negated mentions")
    parser.add_argument("--include-uncertain", action="store_true",
                        help="count uncertain mentions")
    parser.add_argument("--include-family", action="store_true",
                        help="count mentions about family members")
    parser.add_argument("--json", action="store_true",
                        help='one JSON object: "patients" (or "notes") the ids, with their counts')
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    try:
        from corvanta_tools.cohort import CohortError, UnknownTermError, cohort
        import duckdb
    except ModuleNotFoundError as error:
        raise missing_extra("query", "cohort", error) from None
    try:
        frame = cohort(args.index, args.terms, args.exclude, args.notes, args.include_negated,
                       args.include_uncertain, args.include_family)
    except UnknownTermError as error:
        raise CliError(EXIT_USAGE, str(error)) from None
    except CohortError as error:
        raise CliError(EXIT_INPUT, str(error)) from None
    except duckdb.Error as error:
        raise CliError(EXIT_INPUT, f"cannot query {args.index}: {error}") from None
    for given, current in frame.attrs["terms"].items():
        if given != current:
            print(f"corvanta: {given} is taken as {current}, its current term", file=sys.stderr)
    key = "note" if args.notes else "patient"
    counts = [c for c in frame.columns if c not in ("note", "patient")]
    if args.json:
        ids = [str(v) for v in frame[key]]
        print(json.dumps({key + "s": ids, "terms": frame.attrs["terms"], "exclude": args.exclude,
                          "counts": {i: {c: int(row[c]) for c in counts}
                                     for i, (_, row) in zip(ids, frame.iterrows())}}))
        return 0
    sys.stdout.write(frame.to_string(index=False) + "\n" if len(frame) else "")
    print(f"{len(frame)} {key}{'s' * (len(frame) != 1)}", file=sys.stderr)
    return 0

"""`corvanta evaluate`: precision, recall and F1 against gold annotations."""
from __future__ import annotations

import argparse
import json
import sys

from corvanta_tools.cli.errors import EXIT_INPUT, EXIT_USAGE, CliError
from corvanta_tools.accuracy.profiles import recogniser_for
from corvanta_tools.cli.matcher import add_release_options, matcher_for, release_for
from corvanta_tools.cli.profile import add_profile_option, profile_of
from corvanta_tools.evaluate import (LEVELS, Evaluation, GoldDocument, found_mentions,
                                     profile_mentions, score, unknown_ids)
from corvanta_tools.gold import GOLD_FORMATS, GoldError, read_gold

__all__ = ["register"]


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "evaluate", help="score recognition against gold annotations",
        description="Precision, recall and F1 of recognition against gold annotations: per "
                    "document as sets of term ids, and per mention (lenient: same id and "
                    "overlapping spans; strict: identical spans). Ids on both sides are mapped "
                    "to current terms (alternative and obsolete ids); hits in the scope of a "
                    "negation are dropped unless --keep-excluded.")
    add_release_options(parser)
    parser.add_argument("--gold", required=True, metavar="FILE",
                        help='gold documents: JSON lines of {"id", "text", "annotations": '
                             '[{"start", "end", "hpo_id"}]} (str offsets, end exclusive), BioC '
                             "or PubTator")
    parser.add_argument("--gold-format", choices=GOLD_FORMATS,
                        help="the gold file's format (default: bioc-xml for .xml, bioc-json for "
                             ".json, pubtator for .pubtator, else jsonl)")
    parser.add_argument("--longest", action="store_true",
                        help="score map_text_longest instead of map_text")
    add_profile_option(parser)
    parser.add_argument("--keep-excluded", action="store_true",
                        help="count hits in the scope of a negation as found")
    parser.add_argument("--per-document", action="store_true",
                        help="scores of every document as well as the totals")
    parser.add_argument("--json", action="store_true", help="one JSON object instead of a table")
    parser.set_defaults(run=run)


def gold_documents(path: str, format: str | None) -> list[GoldDocument]:
    try:
        return read_gold(path, format)
    except GoldError as error:
        raise CliError(EXIT_INPUT, str(error)) from None
    except ModuleNotFoundError as error:
        raise CliError(EXIT_USAGE, str(error)) from None
    except OSError as error:
        raise CliError(EXIT_INPUT, f"cannot read {path}: {error.strerror or error}") from None


def run(args: argparse.Namespace) -> int:
    profile = profile_of(args)
    gold = gold_documents(args.gold, args.gold_format)
    matcher = matcher_for(args)
    release = release_for(args)
    for warning in unknown_ids(gold, release.knows):
        print(f"corvanta: warning: {warning}", file=sys.stderr)
    found = (found_mentions(matcher, gold, args.longest) if profile == "exact" else
             profile_mentions(recogniser_for(matcher, release, profile), gold, args.longest))
    evaluation = score(gold, found, release, args.keep_excluded)
    method = "map_text_longest" if args.longest else "map_text"
    if args.json:
        result = {"release": release.version, "method": method, "profile": profile,
                  "keep_excluded": args.keep_excluded, **evaluation.as_json(args.per_document)}
        print(json.dumps(result, indent=2))
    else:
        print(f"HPO release {release.version}, {method}, "
              + ("" if profile == "exact" else f"profile {profile}, ") + f"{len(gold)} documents"
              + (", negated hits kept" if args.keep_excluded else ""))
        print_table(evaluation, args.per_document)
    return 0


def print_table(evaluation: Evaluation, per_document: bool) -> None:
    rows = [("document", "level", "precision", "recall", "F1", "found", "gold")]
    scored = [("total", evaluation.total)]
    if per_document:
        scored += list(evaluation.documents.items())
    for name, scores in scored:
        for level in LEVELS:
            counts = scores.level(level)
            rows.append((name, level, f"{counts.precision:.3f}", f"{counts.recall:.3f}",
                         f"{counts.f1:.3f}", str(counts.found), str(counts.gold)))
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    for row in rows:
        print("  ".join(cell.ljust(w) if i < 2 else cell.rjust(w)
                        for i, (cell, w) in enumerate(zip(row, widths))).rstrip())
    if evaluation.unplaced:
        print(f"{evaluation.unplaced} hits without str offsets left out of the mention levels")

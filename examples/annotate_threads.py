"""Annotates a directory of notes on several threads sharing one matcher.

    python examples/annotate_threads.py --hpo hp.json NOTES_DIR [--threads 2] [--output out.jsonl]

Recognition runs without the interpreter lock, so the threads work at the
same time; results come back in input order, read ahead only a few batches,
so any number of notes runs in bounded memory. The JSON lines are those of
`corvanta annotate --format jsonl --jobs N`.
"""
from __future__ import annotations

import argparse
import contextlib
import os
import pathlib
import sys
from collections.abc import Iterator

import corvanta
from corvanta_tools.formats.lines import write_jsonl
from corvanta_tools.releases import Release
from corvanta_tools.scale import annotate_many


def read_notes(paths: list[pathlib.Path]) -> Iterator[tuple[str, str]]:
    for path in paths:
        yield str(path), path.read_text(encoding="utf-8")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("notes", type=pathlib.Path, help="directory of *.txt notes")
    parser.add_argument("--hpo", required=True, help="HPO release file (hp.json)")
    parser.add_argument("--threads", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--output", type=pathlib.Path)
    args = parser.parse_args()

    matcher = corvanta.Corvanta(args.hpo)
    release = Release(args.hpo)
    paths = sorted(args.notes.rglob("*.txt"))
    with contextlib.ExitStack() as stack:
        out = stack.enter_context(args.output.open("w", encoding="utf-8")) if args.output else sys.stdout
        write_jsonl(out, matcher.version(),
                    annotate_many(matcher, read_notes(paths), args.threads, release=release))
    print(f"{len(paths)} notes annotated on {args.threads} threads", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())

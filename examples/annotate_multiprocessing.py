"""Annotates many notes on one machine with a pool of processes.

    python examples/annotate_multiprocessing.py --hpo hp.json NOTES_DIR [--processes N] [--output out.jsonl]

Each process builds its own Corvanta once, in the pool's initializer, from the
release path: a matcher is never pickled or sent between processes. Results
are JSON lines in input order, the records `corvanta annotate --format jsonl`
writes.
"""
from __future__ import annotations

import argparse
import json
import multiprocessing
import os
import pathlib
import sys

import corvanta
from corvanta_tools import annotate

_matcher: corvanta.Corvanta | None = None


def start_worker(release: str) -> None:
    global _matcher
    _matcher = corvanta.Corvanta(release)


def annotate_file(path: str) -> list[str]:
    assert _matcher is not None, "start_worker runs first in every pool process"
    text = pathlib.Path(path).read_text(encoding="utf-8")
    return [json.dumps(r.as_json(), ensure_ascii=False) for r in annotate(_matcher, path, text).records]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("notes", type=pathlib.Path, help="directory of *.txt notes")
    parser.add_argument("--hpo", required=True, help="HPO release file (hp.json)")
    parser.add_argument("--processes", type=int, default=os.cpu_count())
    parser.add_argument("--output", type=pathlib.Path)
    args = parser.parse_args()

    paths = sorted(str(p) for p in args.notes.rglob("*.txt"))
    out = args.output.open("w", encoding="utf-8") if args.output else sys.stdout
    with multiprocessing.Pool(args.processes, start_worker, (args.hpo,)) as pool:
        # Notes are short: hand them out in chunks so that process overhead stays small.
        for lines in pool.imap(annotate_file, paths, chunksize=16):
            out.writelines(line + "\n" for line in lines)
    if out is not sys.stdout:
        out.close()
    print(f"{len(paths)} notes annotated by {args.processes} processes", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())

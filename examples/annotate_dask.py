"""Annotates a large collection of notes on a Dask cluster.

    python examples/annotate_dask.py --hpo hp.json NOTES_DIR OUT_DIR [--workers N] [--scheduler ADDRESS]

Without --scheduler it starts a local cluster of N worker processes. With one,
the release file and the notes must be readable at the same paths on every
worker (a shared file system): only the release path travels, and each worker
builds its own matcher from it on its first task. Results are
OUT_DIR/part-N.jsonl, the JSON lines of `corvanta annotate --format jsonl`.
"""
from __future__ import annotations

import argparse
import pathlib
import sys

import dask.bag
from distributed import Client, LocalCluster

from corvanta_tools.formats.lines import json_line
from corvanta_tools.scale import annotate_bag


def read_note(path: str) -> dict[str, str]:
    return {"id": path, "text": pathlib.Path(path).read_text(encoding="utf-8")}


def run(release: str, notes: list[str], out_dir: pathlib.Path, partition_size: int) -> None:
    bag = dask.bag.from_sequence(notes, partition_size=partition_size).map(read_note)
    out_dir.mkdir(parents=True, exist_ok=True)
    annotate_bag(bag, release).map(json_line).to_textfiles(
        str(out_dir / "part-*.jsonl"), encoding="utf-8", last_endline=True)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("notes", type=pathlib.Path, help="directory of *.txt notes")
    parser.add_argument("out_dir", type=pathlib.Path)
    parser.add_argument("--hpo", required=True, help="HPO release file (hp.json)")
    parser.add_argument("--workers", type=int, default=2, help="local cluster size (default: 2)")
    parser.add_argument("--scheduler", help="address of a running scheduler instead of a local cluster")
    parser.add_argument("--partition-size", type=int, default=500, help="notes per task (default: 500)")
    args = parser.parse_args()

    notes = sorted(str(p.resolve()) for p in args.notes.rglob("*.txt"))
    release = str(pathlib.Path(args.hpo).resolve())
    if args.scheduler:
        with Client(args.scheduler):
            run(release, notes, args.out_dir, args.partition_size)
    else:
        with LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=None) as cluster, \
                Client(cluster):
            run(release, notes, args.out_dir, args.partition_size)
    print(f"{len(notes)} notes annotated into {args.out_dir}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Annotates a large collection of notes on a Dask cluster.

    python examples/annotate_dask.py --hpo hp.json NOTES_DIR OUT_DIR [--workers N] [--scheduler ADDRESS]

Without --scheduler it starts a local cluster of N worker processes. With one,
the release path and the notes must be readable at the same paths on every
worker (a shared file system).

Each worker builds one Corvanta when it joins, from the release path (a
WorkerPlugin); the matcher is never pickled or sent over the network, only the
path is. A worker's threads share its matcher. Results: OUT_DIR/part-N.jsonl,
one JSON line per hit, the records `corvanta annotate --format jsonl` writes.
"""
from __future__ import annotations

import argparse
import json
import pathlib
import sys

import dask.bag as db
from distributed import Client, LocalCluster, WorkerPlugin, get_worker

import corvanta
from corvanta_tools import annotate

PLUGIN = "corvanta"


class CorvantaPlugin(WorkerPlugin):
    """Holds the worker's matcher. The plugin is pickled when it is registered,
    before `setup` runs on the worker, so only the path travels."""

    def __init__(self, release: str, longest: bool) -> None:
        self.release = release
        self.longest = longest
        self.matcher: corvanta.Corvanta | None = None

    def setup(self, worker: object) -> None:
        self.matcher = corvanta.Corvanta(self.release)


def annotate_paths(paths: list[str]) -> list[str]:
    """Runs on a worker: one partition of note paths to JSON lines."""
    plugin = get_worker().plugins[PLUGIN]
    assert isinstance(plugin, CorvantaPlugin) and plugin.matcher is not None
    lines = []
    for path in paths:
        text = pathlib.Path(path).read_text(encoding="utf-8")
        document = annotate(plugin.matcher, path, text, plugin.longest)
        lines.extend(json.dumps(r.as_json(), ensure_ascii=False) for r in document.records)
    return lines


def run(client: Client, release: str, notes: list[str], out_dir: pathlib.Path, longest: bool,
        partition_size: int) -> None:
    client.register_plugin(CorvantaPlugin(release, longest), name=PLUGIN)
    out_dir.mkdir(parents=True, exist_ok=True)
    bag = db.from_sequence(notes, partition_size=partition_size).map_partitions(annotate_paths)
    bag.to_textfiles(str(out_dir / "part-*.jsonl"), encoding="utf-8", last_endline=True)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("notes", type=pathlib.Path, help="directory of *.txt notes")
    parser.add_argument("out_dir", type=pathlib.Path)
    parser.add_argument("--hpo", required=True, help="HPO release file (hp.json)")
    parser.add_argument("--workers", type=int, default=2, help="local cluster size (default: 2)")
    parser.add_argument("--scheduler", help="address of a running scheduler instead of a local cluster")
    parser.add_argument("--longest", action="store_true")
    parser.add_argument("--partition-size", type=int, default=100, help="notes per task (default: 100)")
    args = parser.parse_args()

    notes = sorted(str(p.resolve()) for p in args.notes.rglob("*.txt"))
    release = str(pathlib.Path(args.hpo).resolve())
    if args.scheduler:
        with Client(args.scheduler) as client:
            run(client, release, notes, args.out_dir, args.longest, args.partition_size)
    else:
        with LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=None) as cluster, \
                Client(cluster) as client:
            run(client, release, notes, args.out_dir, args.longest, args.partition_size)
    print(f"{len(notes)} notes annotated into {args.out_dir}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Indexing notes for cohort queries, against annotating them to JSON lines, and
the latency of cohort queries on the index.

    nice .venv/bin/python benchmarks/cohort.py [--notes 100000] [--patients 10000]

The notes are the MEDLINE and MedQuAD texts repeated up to --notes, written
as files and spread round-robin over --patients synthetic patients (a note
date each). Both runs are the command line on the same files, with the same
(default) assertion status:

- `corvanta annotate DIR --format jsonl -o notes.jsonl`;
- `corvanta index DIR --patients map.csv -o cohort.duckdb`.

Each is timed by wall clock and by the CPU seconds of its process (the
machine may be shared: CPU time is the steadier figure). Then the size of
the database, and the latency of `corvanta_tools.cohort.cohort` (connect,
term lookup, query, DataFrame; median of --repeats runs, after one warm-up;
wall and CPU time)
for Seizure, Abnormality of the nervous system (thousands of descendants)
and the most mentioned leaf term.
"""
from __future__ import annotations

import argparse
import contextlib
import datetime
import json
import os
import pathlib
import resource
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
CORPORA = ROOT.parent / "shared" / "corpora"
SOURCES = (CORPORA / "medical_abstracts_tc" / "docs.jsonl", CORPORA / "medquad" / "docs.jsonl")
SEIZURE, NERVOUS_SYSTEM = "HP:0001250", "HP:0000707"


def texts() -> list[str]:
    found = []
    for source in SOURCES:
        with open(source, encoding="utf-8") as lines:
            found.extend(json.loads(line)["text"] for line in lines)
    return found


def write_notes(directory: pathlib.Path, count: int, patients: int) -> pathlib.Path:
    """`count` note files in `directory/notes` and their patient map."""
    corpus = texts()
    notes = directory / "notes"
    notes.mkdir()
    start = datetime.date(2020, 1, 1)
    rows = ["note,patient,date"]
    for i in range(count):
        name = f"n{i:06d}.txt"
        (notes / name).write_text(corpus[i % len(corpus)], encoding="utf-8")
        rows.append(f"{name},P{i % patients:05d},{start + datetime.timedelta(days=i // patients)}")
    (directory / "map.csv").write_text("\n".join(rows) + "\n", encoding="utf-8")
    return notes


def timed(command: list[str]) -> tuple[float, float]:
    """Wall and CPU seconds of running `command` to completion."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def leaf_term(database: pathlib.Path) -> str:
    """The most mentioned term without descendants in the index."""
    from corvanta_tools.cohort import connect

    with connect(database) as connection:
        row = connection.execute(
            "SELECT term_id FROM mentions WHERE term_id NOT IN (SELECT ancestor FROM is_a_closure "
            "WHERE ancestor <> descendant) GROUP BY term_id ORDER BY count(*) DESC LIMIT 1"
        ).fetchone()
    assert row is not None
    return str(row[0])


def latency(database: pathlib.Path, term: str, repeats: int) -> tuple[float, float, int]:
    """Median wall and CPU seconds (of this process: DuckDB's threads
    included) of a cohort query, and the number of patients it finds."""
    from corvanta_tools.cohort import cohort

    found = len(cohort(database, [term]))
    walls, cpus = [], []
    for _ in range(repeats):
        start, cpu = time.perf_counter(), time.process_time()
        cohort(database, [term])
        walls.append(time.perf_counter() - start)
        cpus.append(time.process_time() - cpu)
    return statistics.median(walls), statistics.median(cpus), found


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--notes", type=int, default=100_000)
    parser.add_argument("--patients", type=int, default=10_000)
    parser.add_argument("--repeats", type=int, default=10)
    parser.add_argument("--keep", metavar="DIR",
                        help="work in DIR (new) and keep the notes, outputs and index there")
    args = parser.parse_args()
    cli = [sys.executable, "-m", "corvanta_tools"]
    if args.keep is not None:
        os.mkdir(args.keep)
    with (contextlib.nullcontext(args.keep) if args.keep is not None
          else tempfile.TemporaryDirectory(prefix="corvanta-cohort-")) as work:
        directory = pathlib.Path(work)
        notes = write_notes(directory, args.notes, args.patients)
        size = sum(f.stat().st_size for f in notes.iterdir())
        print(f"{args.notes} notes ({size / 1e6:.0f} MB), {args.patients} patients; "
              f"load average {os.getloadavg()[0]:.1f}")
        annotate = timed([*cli, "annotate", str(notes), "--format", "jsonl",
                          "-o", str(directory / "notes.jsonl")])
        database = directory / "cohort.duckdb"
        index = timed([*cli, "index", str(notes), "--patients", str(directory / "map.csv"),
                       "-o", str(database)])
        print(f"{'run':<24}{'wall s':>9}{'notes/s':>10}{'CPU s':>9}{'notes/CPU s':>13}")
        for name, (wall, cpu) in (("annotate --format jsonl", annotate), ("index", index)):
            print(f"{name:<24}{wall:>9.1f}{args.notes / wall:>10.0f}{cpu:>9.1f}"
                  f"{args.notes / cpu:>13.0f}")
        print(f"index / jsonl: {index[0] / annotate[0]:.2f}x wall, "
              f"{index[1] / annotate[1]:.2f}x CPU "
              f"(target: within 1.5x)")
        print(f"database {database.stat().st_size / 1e6:.0f} MB; JSON lines "
              f"{(directory / 'notes.jsonl').stat().st_size / 1e6:.0f} MB")
        leaf = leaf_term(database)
        for name, term in (("Seizure", SEIZURE), ("Abnormality of the nervous system",
                                                   NERVOUS_SYSTEM), ("leaf", leaf)):
            wall, cpu, found = latency(database, term, args.repeats)
            print(f"query {term} ({name}): {wall * 1000:.0f} ms median ({cpu * 1000:.0f} ms CPU), "
                  f"{found} patients (target: under 200 ms)")
        print(f"load average {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()

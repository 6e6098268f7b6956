"""Notes per second through each scale-out engine, against a plain loop, in one run.

    .venv/bin/python benchmarks/scale.py [--notes 100000] [--hpo hp.json] [--corpus docs.jsonl]

The notes are the MEDLINE abstracts repeated up to --notes. Every engine
makes the records of `corvanta annotate` (with official term labels) for
every note and drops them where they were made, so only annotation and the
engine's own costs are timed:

- loop: `records.annotate` over the notes in memory, on one thread (best of 3);
- threads: `annotate_many(threads=2)` over the same notes (best of 3);
- dask: `annotate_bag` on a LocalCluster of 2 single-threaded worker
  processes, the notes read by the workers from a JSON-lines file;
- spark: `annotate_spark` in local[2], the notes read from the same file,
  the hits written to Spark's no-op sink.

Besides wall time, the CPU seconds of the whole process tree (workers, JVM)
are summed: they say what each engine costs beyond the loop's work even on a
busy machine. Start-up (the cluster; the session and a first job) is printed
apart and not counted; the load average is printed, since other work on the machine skews
every figure. For Dask and
Spark the run is split into reading the notes alone and the whole job, which
says where their time goes.
"""
from __future__ import annotations

import argparse
import itertools
import json
import os
import pathlib
import sys
import tempfile
import time

import corvanta
import psutil

from corvanta_tools.records import annotate
from corvanta_tools.releases import Release
from corvanta_tools.scale import annotate_many

ROOT = pathlib.Path(__file__).resolve().parents[1]
SHARED = ROOT.parent / "shared"
PARTITIONS = 40
ROUNDS = 3


def cpu_times():
    """CPU seconds so far of this process and of each of its descendants (the
    Dask workers, Spark's JVM and its Python workers), by process id."""
    times = {}
    for process in [psutil.Process(), *psutil.Process().children(recursive=True)]:
        try:
            cpu = process.cpu_times()
        except psutil.NoSuchProcess:
            continue
        times[process.pid] = cpu.user + cpu.system
    return times


def timed(run):
    """Wall seconds, CPU seconds of the whole process tree, and what `run` returned."""
    before = cpu_times()
    start = time.perf_counter()
    result = run()
    wall = time.perf_counter() - start
    cpu = sum(t - before.get(pid, 0.0) for pid, t in cpu_times().items())
    return wall, cpu, result


def notes_file(corpus, count, directory):
    """The corpus repeated up to `count` notes, as JSON lines {"id", "text"}."""
    with open(corpus, encoding="utf-8") as f:
        texts = [json.loads(line)["text"] for line in f]
    path = directory / "notes.jsonl"
    with path.open("w", encoding="utf-8") as out:
        for i, text in zip(range(count), itertools.cycle(texts)):
            out.write(json.dumps({"id": f"n{i}", "text": text}) + "\n")
    return path


def loop(matcher, release, notes):
    return sum(len(annotate(matcher, i, t, release=release).records) for i, t in notes)


def threads(matcher, release, notes):
    return sum(len(d.records) for d in annotate_many(matcher, notes, threads=2, release=release))


def dask_runs(hpo, path):
    import dask.bag
    from distributed import Client, LocalCluster

    from corvanta_tools.scale import annotate_bag

    def cluster_with_matchers():
        cluster = LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None)
        client = Client(cluster)
        annotate_bag(dask.bag.from_sequence(["warm-up"] * 2, npartitions=2), hpo).compute()
        return cluster, client

    started, _, (cluster, client) = timed(cluster_with_matchers)
    blocksize = max(1, path.stat().st_size // PARTITIONS)
    try:
        def notes():
            return dask.bag.read_text(str(path), blocksize=blocksize).map(json.loads)

        reading = timed(lambda: notes().count().compute())[:2]
        whole, cpu, hits = timed(lambda: annotate_bag(notes(), hpo).count().compute())
    finally:
        client.close()
        cluster.close()
    return started, reading, whole, cpu, hits


def spark_runs(hpo, path):
    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    from pyspark.sql import SparkSession

    from corvanta_tools.scale import annotate_spark

    def session():
        spark = (SparkSession.builder.master("local[2]")
                 .config("spark.ui.enabled", "false")
                 .config("spark.ui.showConsoleProgress", "false")
                 .config("spark.sql.files.maxPartitionBytes", path.stat().st_size // PARTITIONS)
                 .getOrCreate())
        spark.sparkContext.setLogLevel("ERROR")
        warm_up = spark.createDataFrame([("warm-up",)] * 2, "text string").repartition(2)
        annotate_spark(warm_up, "text", hpo).write.format("noop").mode("overwrite").save()
        return spark

    started, _, spark = timed(session)
    try:
        def notes():
            return spark.read.schema("id string, text string").json(str(path))

        reading = timed(lambda: notes().write.format("noop").mode("overwrite").save())[:2]
        hits_frame = annotate_spark(notes(), "text", hpo, id_column="id")
        whole, cpu, _ = timed(lambda: hits_frame.write.format("noop").mode("overwrite").save())
    finally:
        spark.stop()
    return started, reading, whole, cpu, None  # the no-op sink counts nothing


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--notes", type=int, default=100_000)
    parser.add_argument("--hpo", default=str(SHARED / "hpo" / "hp.json"))
    parser.add_argument("--corpus", default=str(SHARED / "corpora" / "medical_abstracts_tc" / "docs.jsonl"))
    parser.add_argument("--engines", default="loop,threads,dask,spark")
    args = parser.parse_args()
    engines = args.engines.split(",")

    with tempfile.TemporaryDirectory() as directory:
        path = notes_file(args.corpus, args.notes, pathlib.Path(directory))
        with path.open(encoding="utf-8") as f:
            notes = [(n["id"], n["text"]) for n in map(json.loads, f)]
        build, _, matcher = timed(lambda: corvanta.Corvanta(args.hpo))
        release = Release(args.hpo)
        print(f"{len(notes)} notes, {path.stat().st_size / 1e6:.0f} MB; matcher built in {build:.2f} s; "
              f"{os.cpu_count()} cores; load average {os.getloadavg()[0]:.1f}")
        rows = []
        base = None
        for engine in engines:
            if engine in ("loop", "threads"):
                run = loop if engine == "loop" else threads
                seconds, cpu, hits = min(timed(lambda: run(matcher, release, notes))
                                         for _ in range(ROUNDS))
                detail = f"best of {ROUNDS}"
            else:
                runs = dask_runs if engine == "dask" else spark_runs
                started, (reading, reading_cpu), seconds, cpu, hits = runs(args.hpo, path)
                detail = (f"start-up {started:.1f} s (not counted); reading the notes alone "
                          f"{reading:.1f} s, {reading_cpu:.1f} CPU s")
            if engine == "loop":
                base = seconds, cpu
            rows.append((engine, seconds, cpu, hits, detail))
            print(f"  {engine}: {seconds:.1f} s", file=sys.stderr)
        print(f"load average at the end {os.getloadavg()[0]:.1f}")
        print(f"{'engine':8} {'seconds':>8} {'notes/s':>9} {'vs loop':>8} {'CPU s':>7} "
              f"{'CPU vs loop':>11}  {'hits':8} where the time goes")
        for engine, seconds, cpu, hits, detail in rows:
            speed = f"{base[0] / seconds:.2f}x" if base else "-"
            work = f"{cpu / base[1]:.2f}x" if base else "-"
            print(f"{engine:8} {seconds:8.1f} {len(notes) / seconds:9.0f} {speed:>8} {cpu:7.1f} "
                  f"{work:>11}  {hits if hits is not None else '-':<8} {detail}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Construction time and memory, beside Python's own json.load of the release.

    .venv/bin/python benchmarks/construction.py [RELEASE]

Builds the stage-by-stage C++ benchmark with CMake, runs it, then times
corvanta.Corvanta(RELEASE) from Python and json.load of the same file.
"""
import json
import pathlib
import platform
import subprocess
import sys
import time

import corvanta
from native import native_benchmark

ROOT = pathlib.Path(__file__).resolve().parents[1]
RELEASE = sys.argv[1] if len(sys.argv) > 1 else str(ROOT.parent / "shared" / "hpo" / "hp.json")


def best_of(n, f):
    times = []
    for _ in range(n):
        start = time.perf_counter()
        f()
        times.append(time.perf_counter() - start)
    return min(times)


def rss_mb():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def stage_benchmark():
    subprocess.run([str(native_benchmark("bench_construction")), RELEASE, "5"], check=True)


def main():
    commit = subprocess.run(['git', '-C', str(ROOT), 'rev-parse', '--short', 'HEAD'],
                            capture_output=True, text=True).stdout.strip()
    print(f"{platform.node()} {platform.machine()} {time.strftime('%Y-%m-%d')} commit {commit}")
    stage_benchmark()
    before = rss_mb()
    matcher = corvanta.Corvanta(RELEASE)
    after = rss_mb()
    built = best_of(5, lambda: corvanta.Corvanta(RELEASE))

    def load():
        with open(RELEASE, "rb") as f:
            json.load(f)

    parsed = best_of(3, load)
    print(f"Python: Corvanta(release) {built * 1e3:.1f} ms (best of 5), "
          f"resident {before:.1f} -> {after:.1f} MB (+{after - before:.1f} MB)")
    print(f"Python: json.load of the same file {parsed * 1e3:.1f} ms (best of 3); "
          f"construction / json.load = {built / parsed:.2f}")
    del matcher


if __name__ == "__main__":
    main()

"""Reading release metadata against building the matcher, and the cost of a
gzipped release, in one run.

    .venv/bin/python benchmarks/releases.py [RELEASE.json.gz]

Times (best of 7, after one warm-up, wall clock and CPU): `Release` from the plain and the
gzipped file, `Corvanta` from the plain file, and `Corvanta` from the gzipped
one through `resolve_release_path`, once with a fresh cache (decompression
and write of the plain copy included) and once with the copy reused. Also
the peak memory Python allocates while reading a `Release`.
"""
import gzip
import pathlib
import shutil
import sys
import tempfile
import time
import tracemalloc

import corvanta
from corvanta_tools.embedded import EMBEDDED_RELEASE
from corvanta_tools.releases import Release, resolve_release_path

GZIPPED = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else EMBEDDED_RELEASE
ROUNDS = 7


def best_of(f):
    """(wall, CPU) milliseconds, each the best of ROUNDS; CPU time is the
    steadier figure on a busy machine (all of it is on this thread)."""
    f()
    wall, cpu = [], []
    for _ in range(ROUNDS):
        start, start_cpu = time.perf_counter(), time.process_time()
        f()
        wall.append(time.perf_counter() - start)
        cpu.append(time.process_time() - start_cpu)
    return min(wall) * 1e3, min(cpu) * 1e3


def main():
    work = pathlib.Path(tempfile.mkdtemp())
    plain = work / "hp.json"
    plain.write_bytes(gzip.decompress(GZIPPED.read_bytes()))

    def fresh_cache_build():
        cache = work / "cache"
        shutil.rmtree(cache, ignore_errors=True)
        corvanta.Corvanta(resolve_release_path(release_path=str(GZIPPED), cache_dir=cache))

    rows = [
        ("Release(hp.json)", best_of(lambda: Release(plain))),
        ("Release(hp.json.gz)", best_of(lambda: Release(GZIPPED))),
        ("Corvanta(hp.json)", best_of(lambda: corvanta.Corvanta(str(plain)))),
        ("Corvanta from .gz, fresh cache", best_of(fresh_cache_build)),
        ("Corvanta from .gz, copy reused", best_of(lambda: corvanta.Corvanta(
            resolve_release_path(release_path=str(GZIPPED), cache_dir=work / "cache")))),
    ]
    print(f"{GZIPPED.name}: {GZIPPED.stat().st_size / 1e6:.1f} MB gzipped, "
          f"{plain.stat().st_size / 1e6:.1f} MB plain")
    print(f"  {'':<32} {'wall':>7}    {'CPU':>7}")
    for name, (wall, cpu) in rows:
        print(f"  {name:<32} {wall:7.0f} ms {cpu:7.0f} ms")
    tracemalloc.start()
    Release(plain)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    print(f"  Release peak Python allocation   {peak / 1e6:7.0f} MB")
    shutil.rmtree(work)


if __name__ == "__main__":
    main()

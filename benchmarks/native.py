"""Builds one of the C++ benchmarks with CMake (build/bench) for a benchmark script."""
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]


def native_benchmark(target):
    """The path of the C++ benchmark `target` (e.g. "bench_recognition"), built."""
    build = ROOT / "build" / "bench"
    cmake = pathlib.Path(sys.executable).with_name("cmake")
    ninja = pathlib.Path(sys.executable).with_name("ninja")
    subprocess.run([str(cmake), "-S", str(ROOT), "-B", str(build), "-G", "Ninja",
                    f"-DCMAKE_MAKE_PROGRAM={ninja}", "-DCORVANTA_MODULE=OFF",
                    "-DCORVANTA_BENCHMARKS=ON"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([str(cmake), "--build", str(build), "--target", target],
                   check=True, stdout=subprocess.DEVNULL)
    return build / target

#!/usr/bin/env bash
# The hardening run, after scripts/setup.sh has built .venv:
#   1. the libFuzzer targets of fuzz/, built with clang, ASan and UBSan, each
#      for FUZZ_SECONDS seconds (default 60) from its seed corpus;
#   2. the C++ unit tests built with ASan and UBSan (their randomized
#      differential tests drive the core's vector code over many inputs);
#   3. the whole pytest suite against an ASan+UBSan build of the extension.
# Any crash, leak, sanitizer report or failing test fails the run.
# scripts/test.sh calls this in CI (CI=true) or with CORVANTA_HARDENING=1.
set -euo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds=${FUZZ_SECONDS:-60}
cmake_bin=.venv/bin/cmake
root=$PWD

# 1. Fuzzing. New inputs go to a scratch corpus under build/; the committed
# seeds in fuzz/corpus/ are only read (scripts/fuzz-long.sh adds to them).
source scripts/fuzz-targets.sh
build_fuzzers
for name in "${fuzz_targets[@]}"; do run_fuzzer "$name" "$fuzz_seconds"; done

# 2. The C++ unit tests, sanitized.
"$cmake_bin" -S . -B build/unit-asan -DCORVANTA_MODULE=OFF -DCORVANTA_TESTS=ON \
  -DCORVANTA_SANITIZE=address,undefined >/dev/null
"$cmake_bin" --build build/unit-asan -j2 >/dev/null
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ./build/unit-asan/corvanta_unit_tests
echo "hardening: C++ unit tests under ASan+UBSan passed"

# 3. The test suite against the sanitized extension, with the core's
# invariant checks (CORVANTA_DCHECK) on. The interpreter itself is
# not instrumented, so the ASan runtime is preloaded; leak detection stays off
# because CPython does not free everything at exit. Reports go to files, so
# that one from a child process cannot pass unnoticed.
"$cmake_bin" -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANTA_SANITIZE=address,undefined -DCORVANTA_DEBUG_CHECKS=ON \
  -DPython_EXECUTABLE="$root/.venv/bin/python" >/dev/null
"$cmake_bin" --build build/asan -j2 --target corvanta >/dev/null

# The preloaded runtime is for Python processes (pytest and the interpreters
# that tests start); other programs a test starts, such as a browser, get an
# environment without it. This pytest plugin sees to that.
mkdir -p build/asan/plugin
cat >build/asan/plugin/sanitized_run.py <<'PY'
"""Loaded by scripts/hardening.sh into the sanitized test run only."""
import os
import shutil
import subprocess


def _is_python(word, may_be_script):
    """A Python interpreter, or a script that one runs (its #! line says so)."""
    first = os.fsdecode(word).split(maxsplit=1)
    if not first:
        return False
    if os.path.basename(first[0]).startswith("python"):
        return True
    path = shutil.which(first[0]) if may_be_script else None
    if path is None or not os.path.isfile(path):
        return False
    try:
        with open(path, "rb") as f:
            return f.read(2) == b"#!" and b"python" in f.readline()
    except OSError:
        return False


def _starts_python(args):
    words = [args] if isinstance(args, (str, bytes, os.PathLike)) else list(args)
    # A launcher such as setpriv names the interpreter further on.
    return any(_is_python(word, i == 0) for i, word in enumerate(words))


class _Popen(subprocess.Popen):
    def __init__(self, args, *rest, **kwargs):
        if not _starts_python(args):
            env = dict(kwargs.get("env") or os.environ)
            env.pop("LD_PRELOAD", None)
            kwargs["env"] = env
        super().__init__(args, *rest, **kwargs)


subprocess.Popen = _Popen
PY

reports=$root/build/asan/reports
rm -rf "$reports"
mkdir -p "$reports"
# libstdc++ is preloaded after the runtime so that its C++ exception
# interceptor finds the real __cxa_throw when a library that throws (duckdb's)
# is loaded after start-up, instead of failing its own check.
sanitized() {
  env LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so.6)" \
    ASAN_OPTIONS="detect_leaks=0:log_path=$reports/asan" \
    UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan" \
    PYTHONPATH="$root/build/asan:$root/build/asan/plugin${PYTHONPATH:+:$PYTHONPATH}" \
    CORVANTA_SANITIZED=1 "$@"
}
sanitized .venv/bin/python -c 'import corvanta, sys; sys.exit(not corvanta.__file__.startswith(sys.argv[1]))' \
  "$root/build/asan/" || { echo "hardening: the sanitized extension is not the one imported" >&2; exit 1; }
status=0
# The install tests build and install other copies of the package (wheels,
# the sdist, the extras' environments): they never load the sanitized build.
sanitized .venv/bin/python -m pytest -q -p no:cacheprovider -p sanitized_run \
  --ignore=tests/test_wheel.py --ignore=tests/test_sdist.py --ignore=tests/test_extras.py || status=$?
if compgen -G "$reports/*" >/dev/null; then
  echo "hardening: sanitizer reports:" >&2
  cat "$reports"/* >&2
  exit 1
fi
if ((status)); then
  echo "hardening: the test suite failed under ASan+UBSan" >&2
  exit "$status"
fi
echo "hardening: test suite under ASan+UBSan passed, no sanitizer report"

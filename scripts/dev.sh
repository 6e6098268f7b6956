#!/usr/bin/env bash
# The edit-and-test loop: rebuilds the extension and the toolkit's compiled
# helper in place (build/dev, only what changed), lays them out with the
# toolkit's sources in build/dev/site, and runs pytest there with .venv's
# interpreter. Nothing is installed into .venv and nothing is downloaded;
# scripts/setup.sh must have run once.
#   bash scripts/dev.sh [PYTEST ARGUMENTS...]     (default: --quick)
#   bash scripts/dev.sh tests/test_recognition.py -k longest
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x .venv/bin/cmake ]; then
  echo "dev: no .venv with the build tools: run bash scripts/setup.sh once" >&2
  exit 1
fi

build=build/dev
site=$PWD/$build/site
if [ ! -f "$build/CMakeCache.txt" ]; then
  .venv/bin/cmake -S . -B "$build" -G Ninja -DCMAKE_MAKE_PROGRAM="$PWD/.venv/bin/ninja" \
    -DCORVANTA_MODULE=ON -DPython_EXECUTABLE="$PWD/.venv/bin/python" >/dev/null
fi
.venv/bin/cmake --build "$build" -j2
rm -rf "$site/corvanta_tools"  # no module deleted from the sources lingers
.venv/bin/cmake --install "$build" --prefix "$site" >/dev/null

[ $# -gt 0 ] || set -- --quick
PYTHONPATH="$site" exec .venv/bin/python -m pytest -q "$@"

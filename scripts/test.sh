#!/usr/bin/env bash
# Installs what is needed (scripts/setup.sh), then runs the C++ unit tests and
# the Python test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake_bin=.venv/bin/cmake
"$cmake_bin" -S . -B build/unit -G Ninja -DCORVANTA_MODULE=OFF -DCORVANTA_TESTS=ON \
  -DCMAKE_MAKE_PROGRAM="$PWD/.venv/bin/ninja" >/dev/null
"$cmake_bin" --build build/unit
./build/unit/corvanta_unit_tests

.venv/bin/python -m pytest -q "$@"

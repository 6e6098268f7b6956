#!/usr/bin/env bash
# Installs what is needed (scripts/setup.sh, and scripts/test-extras.sh for the
# browser, mypy, the extras and the medspaCy environment), then runs the C++
# unit tests, in CI (CI=true) or with CORVANTA_HARDENING=1 the fuzzers and the
# sanitized suite, and the Python test suite; without arguments also the
# medspaCy route's tests in build/medspacy-venv.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/test-extras.sh

cmake_bin=.venv/bin/cmake
"$cmake_bin" -S . -B build/unit -DCORVANTA_MODULE=OFF -DCORVANTA_TESTS=ON >/dev/null
"$cmake_bin" --build build/unit -j2
./build/unit/corvanta_unit_tests

if [ "${CI:-}" = true ] || [ "${CORVANTA_HARDENING:-}" = 1 ]; then bash scripts/hardening.sh; fi
.venv/bin/python -m pytest -q "$@"
if [ $# -eq 0 ]; then build/medspacy-venv/bin/python -m pytest -q tests/test_medspacy.py; fi

#!/usr/bin/env bash
# Installs what is needed (scripts/setup.sh, and scripts/test-extras.sh for the
# browser, ruff, mypy, the extras and the medspaCy environment), then checks
# the include graph of src/ (scripts/check-includes.py), runs the C++ unit
# tests, ruff and mypy --strict on the toolkit, in CI (CI=true) or
# with CORVANTA_HARDENING=1 the fuzzers and the sanitized suite, and the Python
# test suite; without arguments also the medspaCy route's tests in
# build/medspacy-venv.
#
# --quick: the include check, the C++ unit tests and the core and toolkit tests only (no extras,
# no lint, nothing marked slow), in about a minute once set up; further
# arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=false
if [ "${1:-}" = --quick ]; then quick=true; shift; fi

bash scripts/setup.sh
$quick || bash scripts/test-extras.sh

.venv/bin/python scripts/check-includes.py
cmake_bin=.venv/bin/cmake
"$cmake_bin" -S . -B build/unit -DCORVANTA_MODULE=OFF -DCORVANTA_TESTS=ON >/dev/null
"$cmake_bin" --build build/unit -j2
./build/unit/corvanta_unit_tests

if $quick; then
  exec .venv/bin/python -m pytest -q --quick "$@"
fi
.venv/bin/python -m ruff check .
bash scripts/check-format.sh
.venv/bin/python -m mypy --strict python/corvanta_tools
if [ "${CI:-}" = true ] || [ "${CORVANTA_HARDENING:-}" = 1 ]; then bash scripts/hardening.sh; fi
.venv/bin/python -m pytest -q "$@"
if [ $# -eq 0 ]; then build/medspacy-venv/bin/python -m pytest -q tests/test_medspacy.py; fi

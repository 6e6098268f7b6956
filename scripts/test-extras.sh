#!/usr/bin/env bash
# What the tests need beyond scripts/setup.sh: a headless browser and its
# driver, ICU and qemu-user, the current stack of extras with the test-only
# tools (ruff, mypy) in .venv, the medspaCy route in an environment of its own
# (build/medspacy-venv), a Java runtime for Spark, and the wheels that the
# install tests of the wheel, the sdist and the extras install offline.
# Installs only what is missing; safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-packages.sh chromium chromium-driver
# ICU, against which the C++ tests compare the Unicode tables, and the Unicode
# Character Database they are generated from; qemu-user, which runs the
# aarch64 wheel in scripts/check-wheel.sh.
bash scripts/install-packages.sh pkg-config libicu-dev unicode-data qemu-user

# The requirements of the named extras, as pyproject.toml declares them, one a line.
extra_requirements() {
  .venv/bin/python - "$@" <<'PY'
import sys
import tomllib

with open("pyproject.toml", "rb") as f:
    extras = tomllib.load(f)["project"]["optional-dependencies"]
for name in sys.argv[1:]:
    print(*extras[name], sep="\n")
PY
}
current_stack=(formats spacy serve dask spark cohort)

# The current stack's requirements plus what only the tests use: mypy, the
# service's test client (httpx), jsonschema (the service's published schema
# checked against what it accepts) and Selenium to drive the browser. One
# resolution for all, so that one extra cannot break another. medspaCy (and
# the spaCy below 3.8 it holds) has no place here: an environment made before
# it moved to its own extra loses it.
if .venv/bin/python -c 'import medspacy' 2>/dev/null; then
  # with the packages of its own that hold spaCy below 3.8
  .venv/bin/python -m pip uninstall -q -y medspacy PyRuSH medspacy_quickumls 2>/dev/null || true
fi
if ! .venv/bin/python -c 'import mypy, dask.bag, dask.dataframe, distributed, pyspark, spacy
import phenopackets, bioc, fastapi, uvicorn, httptools, uvloop, swagger_ui_bundle, httpx, selenium
import duckdb, jsonschema, sys; sys.exit(tuple(map(int, spacy.__version__.split(".")[:2])) < (3, 8))' 2>/dev/null; then
  mapfile -t extras < <(extra_requirements "${current_stack[@]}")
  .venv/bin/python -m pip install -q mypy httpx jsonschema selenium "${extras[@]}"
fi
# The linters of scripts/test.sh: ruff, tqdm's type stubs for mypy, and
# clang-format at the version the C++ layout was made with.
clang_format=clang-format==23.1.5
{ .venv/bin/python -m pip show -q ruff && .venv/bin/python -m pip show -q types-tqdm &&
  [ "$(.venv/bin/clang-format --version 2>/dev/null | grep -o '[0-9.]*$')" = "${clang_format#*==}" ]; } \
  >/dev/null 2>&1 || .venv/bin/python -m pip install -q ruff types-tqdm "$clang_format"

# The medspaCy route ([medspacy] with [formats]) in its own environment, on
# the same interpreter, with this package's wheel (built from the same build
# directory as .venv's, so only what changed is compiled again).
medspacy_venv=build/medspacy-venv
rm -rf build/medspacy-wheel
.venv/bin/python -m pip wheel -q --no-deps --no-build-isolation -w build/medspacy-wheel .
wheel=$(echo build/medspacy-wheel/corvanta-*.whl)
if ! "$medspacy_venv/bin/python" -c 'import medspacy, bioc, phenopackets, pytest' 2>/dev/null; then
  rm -rf "$medspacy_venv"
  base=$(.venv/bin/python -c 'import sys; print(sys._base_executable)')
  "$base" -m venv "$medspacy_venv"
  "$medspacy_venv/bin/python" -m pip install -q pytest "$wheel[medspacy,formats]"
fi
"$medspacy_venv/bin/python" -m pip install -q --no-deps --force-reinstall "$wheel"
# Spark's JVM, unless a Java runtime is there already.
command -v java >/dev/null 2>&1 || bash scripts/install-packages.sh default-jre-headless

# Wheels of the package's dependencies and of its build backend, for the tests
# that install the wheel and the sdist into fresh environments of Python 3.10
# and 3.13 without a network, and of the extras [spacy], [serve] and [dask]
# for .venv's interpreter, for the test that installs them one after the
# other. Fetched again only when the list changes.
requirements=$(.venv/bin/python - <<'PY'
import tomllib

with open("pyproject.toml", "rb") as f:
    project = tomllib.load(f)
cmake = "cmake" + project["tool"]["scikit-build"]["cmake"]["version"]
print(" ".join([*project["project"]["dependencies"], *project["build-system"]["requires"], cmake, "ninja"]))
PY
)
pythons=()
for version in 3.10 3.13; do
  python=$(printf '%s\n' "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$version".*/bin/python"$version" | sort -V | tail -n 1)
  [ -x "$python" ] || python=$(command -v "python$version") || continue
  pythons+=("$python")
done
wheelhouse=build/wheelhouse
mapfile -t extras < <(extra_requirements spacy serve dask)
if [ "$(cat "$wheelhouse/requirements" 2>/dev/null)" != "$requirements ${pythons[*]} ${extras[*]}" ]; then
  mkdir -p "$wheelhouse"
  # Each interpreter downloads for itself, so that its environment markers hold.
  for python in "${pythons[@]}"; do
    # shellcheck disable=SC2086 # one requirement a word
    "$python" -m pip download -q --only-binary=:all: -d "$wheelhouse" $requirements
  done
  # One resolution of the three extras together, as installing them one after
  # the other must find a set that holds for both steps.
  # shellcheck disable=SC2086
  .venv/bin/python -m pip download -q --only-binary=:all: -d "$wheelhouse" $requirements "${extras[@]}"
  echo "$requirements ${pythons[*]} ${extras[*]}" >"$wheelhouse/requirements"
fi

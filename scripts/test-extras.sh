#!/usr/bin/env bash
# What the tests need beyond scripts/setup.sh: a headless browser and its
# driver, every extra with the test-only tools, a Java runtime for Spark, and
# the wheels that the install tests of the wheel and the sdist install offline.
# Installs only what is missing; safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."
export PIP_CONSTRAINT="$PWD/scripts/constraints.txt"

bash scripts/install-packages.sh chromium chromium-driver

# Every extra's requirements, as pyproject.toml declares them, plus what only
# the tests use: mypy, the service's test client (httpx) and Selenium to drive
# the browser. One resolution for all, so that one extra cannot break another.
if ! .venv/bin/python -c 'import mypy, dask.bag, dask.dataframe, distributed, pyspark, spacy, medspacy
import phenopackets, bioc, fastapi, uvicorn, httptools, uvloop, swagger_ui_bundle, httpx, selenium' \
  2>/dev/null; then
  mapfile -t extras < <(.venv/bin/python - <<'PY'
import tomllib

with open("pyproject.toml", "rb") as f:
    extras = tomllib.load(f)["project"]["optional-dependencies"]
for name in ("formats", "spacy", "serve", "dask", "spark"):
    print(*extras[name], sep="\n")
PY
  )
  .venv/bin/python -m pip install -q mypy httpx selenium "${extras[@]}"
fi
# Spark's JVM, unless a Java runtime is there already.
command -v java >/dev/null 2>&1 || bash scripts/install-packages.sh default-jre-headless

# Wheels of the package's dependencies and of its build backend, for the tests
# that install the wheel and the sdist into fresh environments of Python 3.10
# and 3.13 without a network. Fetched again only when the list changes.
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
if [ "$(cat "$wheelhouse/requirements" 2>/dev/null)" != "$requirements ${pythons[*]}" ]; then
  mkdir -p "$wheelhouse"
  # Each interpreter downloads for itself, so that its environment markers hold.
  for python in "${pythons[@]}"; do
    # shellcheck disable=SC2086 # one requirement a word
    "$python" -m pip download -q --only-binary=:all: -d "$wheelhouse" $requirements
  done
  echo "$requirements ${pythons[*]}" >"$wheelhouse/requirements"
fi

#!/usr/bin/env bash
# What the tests of the command line, report, typing, wheel and scale-out
# examples need beyond scripts/setup.sh: a headless browser, mypy, Dask, and
# the wheels that the install tests of the wheel and the sdist install offline.
# Installs only what is missing; safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."
export PIP_CONSTRAINT="$PWD/scripts/constraints.txt"

bash scripts/install-packages.sh chromium chromium-driver

if ! .venv/bin/python -c 'import mypy, dask.bag, dask.dataframe, distributed, pyspark' 2>/dev/null; then
  .venv/bin/python -m pip install -q mypy "dask[bag,dataframe,distributed]>=2024.1" "pandas>=2" \
    "pyarrow>=14" "pyspark>=3.5"
fi
# The spaCy integration's tests: the [spacy] extra.
if ! .venv/bin/python -c 'import spacy, medspacy' 2>/dev/null; then
  .venv/bin/python -m pip install -q "spacy>=3.7,<4" "medspacy>=1.3.1,<1.4"
fi
# The formats' tests: the [formats] extra.
if ! .venv/bin/python -c 'import phenopackets, bioc' 2>/dev/null; then
  .venv/bin/python -m pip install -q "phenopackets>=2.0.2" "bioc>=2.1,<3"
fi
# Spark's JVM, unless a Java runtime is there already.
command -v java >/dev/null 2>&1 || bash scripts/install-packages.sh default-jre-headless

# The service's tests: the [serve] extra, the test client's httpx, and
# Selenium to drive the browser.
if ! .venv/bin/python -c 'import fastapi, uvicorn, httptools, uvloop, swagger_ui_bundle, httpx, selenium' 2>/dev/null; then
  .venv/bin/python -m pip install -q "fastapi>=0.110" "uvicorn[standard]>=0.55" "swagger-ui-bundle-v2>=5" httpx selenium
fi

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

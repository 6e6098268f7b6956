#!/usr/bin/env bash
# What the tests of the command line, report, typing, wheel and scale-out
# examples need beyond scripts/setup.sh: a headless browser, mypy and Dask.
# Installs only what is missing; safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-packages.sh chromium chromium-driver

if ! .venv/bin/python -c 'import mypy, dask.bag, distributed' 2>/dev/null; then
  .venv/bin/python -m pip install -q mypy "dask[bag,distributed]"
fi

# The service's tests: the [serve] extra, the test client's httpx, and
# Selenium to drive the browser.
if ! .venv/bin/python -c 'import fastapi, uvicorn, swagger_ui_bundle, httpx, selenium' 2>/dev/null; then
  .venv/bin/python -m pip install -q "fastapi>=0.110" "uvicorn>=0.55" "swagger-ui-bundle-v2>=5" httpx selenium
fi

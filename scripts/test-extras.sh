#!/usr/bin/env bash
# What the tests of the command line, report, typing, wheel and scale-out
# examples need beyond scripts/setup.sh: a headless browser, mypy and Dask.
# Installs only what is missing; safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v chromium >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "test-extras: installing chromium" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends chromium >/dev/null
fi

if ! .venv/bin/python -c 'import mypy, dask.bag, distributed' 2>/dev/null; then
  .venv/bin/python -m pip install -q mypy "dask[bag,distributed]"
fi

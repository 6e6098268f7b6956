#!/usr/bin/env bash
# Checks that the C++ sources are laid out as .clang-format says; with --fix,
# lays them out. The generated Unicode tables are left as their generator
# writes them.
#
#   bash scripts/check-format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
mode=(--dry-run -Werror)
if [ "${1:-}" = --fix ]; then mode=(-i); fi
git ls-files '*.cpp' '*.hpp' | grep -v '^src/text/unicode_tables\.hpp$' |
  xargs .venv/bin/clang-format --style=file "${mode[@]}"

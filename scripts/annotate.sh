#!/usr/bin/env bash
# The main job: installs what is needed, then annotates a clinical note and
# prints its hits as a table, excluded (negated) ones marked.
#   bash scripts/annotate.sh [NOTE...] [--hpo RELEASE] [other `corvanta annotate` options]
# Without a note it annotates examples/sample_note.txt. Without --hpo it uses
# ../shared/hpo/hp.json when present, else the release
# embedded in the package (no network needed). Paths are relative to
# the directory it is run from.
set -euo pipefail
root=$(realpath -- "$(dirname "$0")/..")
bash "$root/scripts/setup.sh" >&2

has_note=false has_hpo=false has_format=false takes_value=false
for arg in "$@"; do
  if $takes_value; then takes_value=false; continue; fi
  case $arg in
    --hpo|--release) has_hpo=true takes_value=true ;;
    --hpo=*|--release=*) has_hpo=true ;;
    --format) has_format=true takes_value=true ;;
    --format=*) has_format=true ;;
    -o|--output|--cache-dir|--glob|--encoding|--profile|--switch) takes_value=true ;;
    -) has_note=true ;;
    -*) ;;
    *) has_note=true ;;
  esac
done
args=("$@")
$has_note || args+=("$(realpath --relative-to=. -- "$root/examples/sample_note.txt")")
$has_format || args+=(--format table)
if ! $has_hpo && [ -f "$root/../shared/hpo/hp.json" ]; then
  args+=(--hpo "$(realpath -- "$root/../shared/hpo/hp.json")")
fi
exec "$root/.venv/bin/corvanta" annotate "${args[@]}"

#!/usr/bin/env bash
# The main job: installs what is needed, then annotates a clinical note.
#   bash scripts/annotate.sh [NOTE] [--hpo RELEASE]
# Without --hpo it uses ../shared/hpo/hp.json when present, else the latest
# release fetched once into ~/.cache/corvanta.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
args=("$@")
if [[ " $* " != *" --hpo "* ]] && [ -f ../shared/hpo/hp.json ]; then
  args+=(--hpo ../shared/hpo/hp.json)
fi
exec .venv/bin/python examples/annotate_note.py "${args[@]}"

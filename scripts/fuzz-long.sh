#!/usr/bin/env bash
# A long fuzzing run of one target whose findings are kept:
#   bash scripts/fuzz-long.sh TARGET SECONDS [MAX_KIB]
# runs TARGET (fuzz_release, fuzz_recognition or fuzz_labels, or one of the
# input readers' fuzz_pubtator, fuzz_bioc_xml or fuzz_bioc_json) for SECONDS
# seconds from its committed corpus fuzz/corpus/TARGET, then merges what the
# run found into that corpus with libFuzzer's -merge=1, which adds only the
# inputs that reach coverage the corpus does not reach yet, preferring small
# ones; the inputs already there stay as they are. The corpus is then bounded:
# while it holds more than MAX_KIB KiB (default 128), the largest of the
# inputs just added is dropped again. Commit the new files of fuzz/corpus/TARGET
# to keep them: the bounded run of scripts/hardening.sh starts from them.
# Needs .venv (scripts/setup.sh); installs clang when it is missing, and for
# the readers atheris into build/fuzz/atheris.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: bash scripts/fuzz-long.sh fuzz_release|fuzz_recognition|fuzz_labels|fuzz_pubtator|fuzz_bioc_xml|fuzz_bioc_json SECONDS [MAX_KIB]" >&2
  exit 2
}
(($# == 2 || $# == 3)) || usage
target=$1 seconds=$2 max_kib=${3:-128}
[[ $seconds =~ ^[1-9][0-9]*$ && $max_kib =~ ^[1-9][0-9]*$ ]] || usage
source scripts/fuzz-targets.sh
set_fuzz_options "$target" || usage

corpus=fuzz/corpus/$target
work=build/fuzz/run/$target
corpus_bytes() { cat "$corpus"/* | wc -c; }

build_target "$target"
run_fuzzer "$target" "$seconds"
set_fuzzer "$target"

kept=$work/kept
ls "$corpus" >"$kept"
if ! "${fuzzer[@]}" -merge=1 "${fuzz_options[@]}" "$corpus" "$work/corpus" >"$work/merge.log" 2>&1; then
  echo "fuzzing: merging into $corpus failed:" >&2
  grep -v "^Could not parse ontology version$" "$work/merge.log" | tail -n 40 >&2
  exit 1
fi

limit=$((max_kib * 1024))
dropped=0
# The inputs the merge added, largest first.
while IFS= read -r input; do
  (($(corpus_bytes) > limit)) || break
  rm "$corpus/$input"
  dropped=$((dropped + 1))
done < <(ls -S "$corpus" | grep -vxF -f "$kept")

added=$(ls "$corpus" | grep -cvxF -f "$kept" || true)
echo "fuzzing: $target: $added inputs added to $corpus ($dropped more dropped for the" \
  "$max_kib KiB bound); it now holds $(ls "$corpus" | wc -l) inputs, $(($(corpus_bytes) / 1024)) KiB"

# Sourced by scripts/hardening.sh and scripts/fuzz-long.sh, from the root of
# the tree with .venv built: the libFuzzer targets of fuzz/, how they are
# built, each target's options, and one run of a target.

fuzz_targets=(fuzz_release fuzz_recognition fuzz_labels)
# The input readers of the toolkit, fuzzed with atheris (Python under libFuzzer).
python_fuzz_targets=(fuzz_pubtator fuzz_bioc_xml fuzz_bioc_json)
atheris_venv=build/fuzz/atheris

# Builds every target with clang, ASan and UBSan into build/fuzz.
build_fuzzers() {
  bash scripts/install-packages.sh clang libclang-rt-14-dev
  .venv/bin/cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANTA_MODULE=OFF -DCORVANTA_FUZZ=ON -DCORVANTA_DEBUG_CHECKS=ON >/dev/null
  .venv/bin/cmake --build build/fuzz -j2 >/dev/null
}

# A virtual environment of its own with atheris (built against clang's
# libFuzzer), which sees the tree's toolkit first and then what .venv holds.
build_python_fuzzers() {
  bash scripts/install-packages.sh clang libclang-rt-14-dev
  [ -x "$atheris_venv/bin/python" ] || .venv/bin/python -m venv "$atheris_venv"
  CC=clang CXX=clang++ "$atheris_venv/bin/python" -m pip install -q "atheris>=2.3"
  local site
  site=$("$atheris_venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')
  printf '%s\n' "$PWD/python" "$(.venv/bin/python -c 'import sysconfig; print(sysconfig.get_path("purelib"))')" \
    >"$site/corvanta-tree.pth"
}

# Builds what TARGET needs (the native targets, or the atheris environment).
build_target() {
  if is_python_target "$1"; then build_python_fuzzers; else build_fuzzers; fi
}

is_python_target() {
  [[ " ${python_fuzz_targets[*]} " == *" $1 "* ]]
}

# Sets the array fuzzer to the command that runs TARGET.
set_fuzzer() {
  if is_python_target "$1"; then fuzzer=("$atheris_venv/bin/python" "fuzz/$1.py"); else fuzzer=("./build/fuzz/$1"); fi
}

# Sets the array fuzz_options to the options that TARGET is run and merged
# with; fails for a name that is not a target.
set_fuzz_options() {
  case $1 in
    fuzz_release) fuzz_options=(-max_len=16384 -dict=fuzz/release.dict) ;;
    fuzz_recognition) fuzz_options=(-max_len=4096) ;;
    fuzz_labels) fuzz_options=(-max_len=1024) ;;
    fuzz_pubtator | fuzz_bioc_xml | fuzz_bioc_json) fuzz_options=(-max_len=4096 -dict=fuzz/readers.dict) ;;
    *) return 1 ;;
  esac
}

# Runs TARGET for SECONDS seconds from its committed corpus fuzz/corpus/TARGET,
# which is only read; new inputs go to build/fuzz/run/TARGET/corpus. A crash,
# leak or sanitizer report prints the log and the input, and exits 1.
run_fuzzer() {
  local name=$1 seconds=$2
  local work=build/fuzz/run/$name
  local seeds=()
  if [ "$name" = fuzz_release ]; then seeds=(-seed_inputs=fuzz/fixture_release.json); fi
  set_fuzz_options "$name"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  # Releases without a parsable version each print one diagnostic line; the
  # log keeps them out of the output.
  set_fuzzer "$name"
  if ! "${fuzzer[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "${fuzz_options[@]}" "${seeds[@]}" \
    "$work/corpus" "fuzz/corpus/$name" >"$work/log" 2>&1; then
    echo "fuzzing: $name failed; input in $work/artifacts/" >&2
    grep -v "^Could not parse ontology version$" "$work/log" | tail -n 80 >&2
    for input in "$work"/artifacts/*; do
      [ -f "$input" ] || continue
      echo "fuzzing: $input, base64 (first 4 KiB):" >&2
      head -c 4096 "$input" | base64 >&2
    done
    exit 1
  fi
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  echo "fuzzing: $name: $runs executions in $seconds s, no crash"
}

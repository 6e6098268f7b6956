#!/usr/bin/env bash
# Checks built wheels where no system library can help them:
#   bash scripts/check-wheel.sh WHEEL...
# Each wheel is installed (pip install --target, for the wheel's own platform)
# into a fresh directory and run by an interpreter of its architecture: this
# machine's python3 for x86_64, in a mount namespace where /dev/null covers
# the system's ICU, simdjson and libstemmer; for aarch64, Debian's arm64
# CPython under qemu-aarch64, whose root (-L) holds only that CPython and the C
# library. It builds a matcher from the release embedded in the wheel and from
# ../shared/hpo/hp.json (when present), annotates examples/sample_note.txt and
# compares every hit with those of the native build in .venv.
#
# The arm64 CPython comes from Debian's arm64 packages, downloaded once through
# an apt state of its own and unpacked with dpkg -x under the cross cache
# ($CORVANTA_CROSS_CACHE, by default ~/.cache/corvanta-cross); later
# runs need no network. Exits with 77, saying why, when a wheel cannot be run
# here (no qemu-aarch64, or the packages cannot be fetched).
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 WHEEL..." >&2; exit 2; }
wheels=()
for wheel in "$@"; do wheels+=("$(realpath -- "$wheel")"); done
cd "$(dirname "$0")/.."
root=$PWD
cross=${CORVANTA_CROSS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/corvanta-cross}
skip=77

arm64_python_packages=(libc6 libgcc-s1 libcrypt1 zlib1g libexpat1 libffi8 libbz2-1.0 liblzma5
                       python3.11-minimal libpython3.11-minimal libpython3.11-stdlib)

# Prints the directory that holds an arm64 Debian root with CPython.
arm64_root() {
  local dir=$cross/aarch64/python-root apt=$cross/apt-arm64
  if [ ! -x "$dir/usr/bin/python3.11" ]; then
    mkdir -p "$apt/parts" "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/debs"
    : >"$apt/empty.list"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then cp /etc/apt/sources.list.d/debian.sources "$apt/parts/"; fi
    if [ -f /etc/apt/sources.list ]; then grep '^deb ' /etc/apt/sources.list >"$apt/parts/debian.list" || true; fi
    local options=(-q -o "Dir::Etc::SourceList=$apt/empty.list" -o "Dir::Etc::SourceParts=$apt/parts"
                   -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "APT::Sandbox::User=root"
                   -o APT::Architecture=arm64 -o APT::Architectures=arm64)
    apt-get "${options[@]}" update >&2 &&
      (cd "$apt/debs" && apt-get "${options[@]}" download "${arm64_python_packages[@]}" >&2) || return 1
    rm -rf "$dir.partial" && mkdir -p "$dir.partial"
    for deb in "$apt/debs"/*.deb; do dpkg -x "$deb" "$dir.partial"; done
    mv "$dir.partial" "$dir"
  fi
  echo "$dir"
}

# Wraps a command in a mount namespace where the system's ICU, simdjson and
# libstemmer files are /dev/null; prints nothing and fails where no such
# namespace can be made.
hidden_system_libraries() {
  local mounts="" path
  for path in $(ldconfig -p | sed -nE 's/.*lib(icu[a-z0-9]*|simdjson|stemmer)\.so.* => //p' | xargs -r realpath | sort -u); do
    mounts+="mount --bind /dev/null $path && "
  done
  local private=(unshare --mount --propagation private)
  [ "$(id -u)" = 0 ] || private+=(--map-root-user)
  "${private[@]}" true 2>/dev/null || return 1
  printf '%s\0' "${private[@]}" sh -c "$mounts"'exec "$@"' clean-room
}

# The hits of every release on the sample note, as JSON lines, from the
# corvanta importable by the given interpreter command.
hits_program='
import gzip, json, pathlib, sys, tempfile
import corvanta

def readable(release, tmp):
    """A path Corvanta reads: a gzipped release is unpacked into tmp first."""
    if release.suffix != ".gz":
        return release
    plain = pathlib.Path(tmp, release.stem)
    plain.write_bytes(gzip.decompress(release.read_bytes()))
    return plain

site, note = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]).read_text(encoding="utf-8")
with tempfile.TemporaryDirectory() as tmp:
    for release in [*sorted(site.glob("corvanta_tools/data/*.json.gz")), *map(pathlib.Path, sys.argv[3:])]:
        for hit in corvanta.Corvanta(str(readable(release, tmp))).map_text(note):
            print(json.dumps([release.name, hit.term_id, hit.label, list(hit.span), hit.excluded]))
'
note=$root/examples/sample_note.txt
releases=()
[ -f "$root/../shared/hpo/hp.json" ] && releases+=("$root/../shared/hpo/hp.json")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
native_site=$(.venv/bin/python -c 'import corvanta, os; print(os.path.dirname(corvanta.__file__))')
.venv/bin/python -c "$hits_program" "$native_site" "$note" "${releases[@]}" >"$work/expected"
[ -s "$work/expected" ] || { echo "the native build finds no hit on $note" >&2; exit 1; }

status=0
for wheel in "${wheels[@]}"; do
  name=$(basename "$wheel")
  arch=$(sed -nE 's/.*_(x86_64|aarch64)\.whl$/\1/p' <<<"$name")
  site=$work/$arch-site
  rm -rf "$site"
  .venv/bin/python -m pip install -q --no-deps --target "$site" --only-binary=:all: \
    --platform "manylinux_2_17_$arch" --implementation cp --python-version 3.11 "$wheel"
  case $arch in
    x86_64)
      runner=()
      if wrap=$(hidden_system_libraries | tr '\0' '\n'); then
        mapfile -t runner <<<"$wrap"
      else
        echo "$name: no mount namespace here: the system libraries stay visible" >&2
      fi
      runner+=(python3) ;;
    aarch64)
      if ! command -v qemu-aarch64 >/dev/null; then
        echo "$name: cannot run: no qemu-aarch64 (Debian's qemu-user)" >&2; exit $skip
      fi
      if ! python_root=$(arm64_root); then
        echo "$name: cannot run: Debian's arm64 CPython could not be fetched" >&2; exit $skip
      fi
      runner=(qemu-aarch64 -L "$python_root" "$python_root/usr/bin/python3.11") ;;
    *) echo "$name: no way to run a wheel for $arch here" >&2; exit $skip ;;
  esac
  if ! PYTHONPATH=$site "${runner[@]}" -c "$hits_program" "$site" "$note" "${releases[@]}" >"$work/$arch"; then
    echo "FAIL $name: did not run" >&2; status=1; continue
  fi
  # The embedded release's file is the same in both; its hits are named alike.
  if diff -u "$work/expected" "$work/$arch" >&2; then
    echo "ok $name: $(wc -l <"$work/$arch") hits as the native build's"
  else
    echo "FAIL $name: hits differ from the native build's" >&2; status=1
  fi
done
exit $status

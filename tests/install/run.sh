#!/usr/bin/env bash
# The install step as an outside program meets it.
#
# 1. Install the built tree into a temporary prefix, move that prefix
#    elsewhere (nothing may name the prefix it was installed to), check that
#    only public headers came along, then build and run a tiny consumer
#    through the CMake package and through pkg-config, neither of which sets
#    the C++ standard.
# 2. Make a library-only build of the same sources (no tests, examples or
#    benchmarks, with GoogleTest unfindable), install it, and build and run
#    the consumer against it.
# Each consumer also says where it finds the ring tones.
#
# An instrumented build (sanitizers) is repeated with the same instruments,
# and its consumers link their runtime through the package's flags.
#
#   tests/install/run.sh <build dir> [sanitizers] [C compiler] [C++ compiler]
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
sanitize=${2:-}
cc=${3:-cc}
cxx=${4:-c++}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
compilers=(-DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx")

# Runs a step quietly; on failure shows what it printed.
quiet() {
  if ! "$@" >"$work/step.log" 2>&1; then
    echo "failed: $*"; tail -n 60 "$work/step.log"; return 1
  fi
}

# Builds the consumer through the CMake package of <prefix> into <dir>.
cmake_consumer() {
  quiet cmake -S "$here/consumer" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_PREFIX_PATH="$1" "${compilers[@]}" "${launcher[@]}"
  quiet cmake --build "$2"
}

quiet cmake --install "$build" --prefix "$work/installed"
# Debug information would only slow the consumer's links (hundreds of MB).
find "$work/installed" -name '*.a' -exec strip -g {} +
mv "$work/installed" "$work/moved"
prefix=$work/moved
include=$prefix/include/pellix

# Public headers only: no private header, and no installed header includes
# a header that was left out.
if find "$include" -name '*Private.h' | grep -q .; then
  echo "private headers installed:"; find "$include" -name '*Private.h'; exit 1
fi
missing=0
while IFS= read -r line; do
  file=${line%%:*}
  inc=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"${line#*:}")
  if [[ ! -e $include/$inc ]]; then
    echo "${file#$include/} includes $inc, which is not installed"; missing=1
  fi
done < <(grep -rH '^#include "' "$include" --include='*.h')
(( missing == 0 ))

# The main build was configured for another prefix, where its tones may or
# may not have been installed; a consumer outside the moved tree finds them
# there or nowhere, and says so once.
configured_prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
elsewhere=(--no-tones)
[[ -d $configured_prefix/share/pellix/PellixSDK.bundle/audio ]] && elsewhere=(--tones "$configured_prefix/share/pellix")

# Through the CMake package.
cmake_consumer "$prefix" "$work/cmake-build"
"$work/cmake-build/consumer" "${elsewhere[@]}"

# Through pkg-config, with nothing but the .pc file to go on. Installed in
# the moved tree's bin/, the program finds the tones beside it.
pc_dir=$(dirname "$(find "$prefix" -name pellix.pc | head -n1)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs pellix)
compiler=("$cxx")
command -v ccache >/dev/null && compiler=(ccache "$cxx")
mkdir -p "$prefix/bin"
"${compiler[@]}" "$here/consumer/main.cpp" -o "$prefix/bin/pc-consumer" $flags
"$prefix/bin/pc-consumer" --tones "$prefix/share/pellix"

# A library-only build, kept in the build tree so that a second run only
# relinks. GoogleTest cannot be found, so the configure step fails if the
# library asks for it. No optimisation or debug information: it only has to
# link and run.
lib_build=$build/install-test/library-only
lib_prefix=$work/library-only
quiet cmake -S "$source_dir" -B "$lib_build" -G Ninja "${compilers[@]}" \
      -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG= -DCMAKE_C_FLAGS_DEBUG= \
      -DPELLIX_TESTS=OFF -DPELLIX_EXAMPLES=OFF -DPELLIX_BENCH=OFF -DPELLIX_SANITIZE="$sanitize" \
      -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_INSTALL_PREFIX="$lib_prefix"
quiet cmake --build "$lib_build"
quiet cmake --install "$lib_build"
# Configured for this prefix, the library finds its installed tones for a
# program that lives anywhere.
cmake_consumer "$lib_prefix" "$work/lib-consumer"
"$work/lib-consumer/consumer" --tones "$lib_prefix/share/pellix"

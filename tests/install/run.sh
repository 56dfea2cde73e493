#!/usr/bin/env bash
# The install step as an outside program meets it: install the built tree
# into a temporary prefix, move that prefix elsewhere (nothing may name the
# prefix it was installed to), check that only public headers came along,
# then build and run a tiny consumer twice, through the CMake package and
# through pkg-config.
#
#   tests/install/run.sh <build dir>
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

cmake --install "$build" --prefix "$work/installed" >/dev/null
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

# Through the CMake package.
cmake -S "$here/consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$prefix" "${launcher[@]}" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"

# Through pkg-config, with nothing but the .pc file to go on.
pc_dir=$(dirname "$(find "$prefix" -name pellix.pc | head -n1)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs pellix)
compiler=(c++)
command -v ccache >/dev/null && compiler=(ccache c++)
"${compiler[@]}" -std=c++20 "$here/consumer/main.cpp" -o "$work/pc-consumer" $flags
"$work/pc-consumer"

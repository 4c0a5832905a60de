#!/usr/bin/env bash
# reproducible.sh SOURCE BUILDTOOL DIST: builds both stubs again in fresh
# directories and compares them byte for byte with the ones in DIST.
set -euo pipefail
src=$1 buildtool=$2 dist=$3
work=$(mktemp -d /tmp/sfxrepro.XXXXXX)
trap 'rm -rf "$work"' EXIT
for arch in i686:sfxstub32 x86_64:sfxstub64; do
  cmake -S "$src" -B "$work/${arch%%:*}" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-${arch%%:*}.cmake" \
    -DSFX_BUILDTOOL="$buildtool" -DSFX_STUB_NAME="${arch#*:}" -DCMAKE_BUILD_TYPE= >/dev/null
  cmake --build "$work/${arch%%:*}" >/dev/null
  cmp "$work/${arch%%:*}/${arch#*:}.exe" "$dist/${arch#*:}.exe"
  echo "${arch#*:}.exe: identical"
done

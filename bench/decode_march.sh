#!/usr/bin/env bash
# What generating 80386 code costs the decoder: the stub's extract pass built
# as 32-bit x86 code twice, for the toolchain's usual pentiumpro and for the
# i386 the product targets, on the same -lh5-/-lh6-/-lh7- self-extractors.
# 32-bit programs run here only under qemu-user, so the figures compare the
# two builds with each other, not with the native ones of decode.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${RUNS:-3}
[ -x dist/mksfx ] || bash scripts/build >/dev/null
dpkg-query -W -f='${Status}' g++-multilib 2>/dev/null | grep -q 'ok installed' ||
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends g++-multilib >/dev/null
bash bench/make_corpus.sh >/dev/null
tmp=$(mktemp -d /dev/shm/sfxbench.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
for march in pentiumpro i386; do
  flags="-m32 -march=$march -mtune=generic"
  cmake -S . -B "build/bench32-$march" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSFX_STUBS=OFF -DSFX_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=-m32 \
    -DCMAKE_CXX_STANDARD_LIBRARIES=-latomic >/dev/null
  cmake --build "build/bench32-$march" --target decode_bench >/dev/null
done
printf 'median of %d runs, output MB/s under qemu-i386\n' "$RUNS"
printf '%-8s %12s %12s %12s\n' method pentiumpro i386 i386/ppro
for m in 5 6 7; do
  dist/mksfx --stub dist/sfxstub32.exe --method lh$m -o "$tmp/lh$m.exe" bench/corpus
  ppro=$(build/bench32-pentiumpro/bench/decode_bench "$tmp/lh$m.exe" "$tmp/out" "$RUNS" | awk '{print $2}')
  i386=$(build/bench32-i386/bench/decode_bench "$tmp/lh$m.exe" "$tmp/out" "$RUNS" | awk '{print $2}')
  printf '%-8s %12.1f %12.1f %12.3f\n' "-lh$m-" "$ppro" "$i386" "$(echo "$i386 / $ppro" | bc -l)"
done

#!/usr/bin/env bash
# Decoding benchmark: the stub's own extract pass (native build, writing real
# files) side by side with lhasa and 7z on the same -lh5-/-lh6-/-lh7-
# archives of the corpus, and libdeflate on a gzip stream of it for scale.
# Medians of RUNS runs; output MB/s. Also prints the stub sizes.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${RUNS:-5}
[ -x build/release/bench/decode_bench ] || bash scripts/build >/dev/null
command -v libdeflate-gunzip >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libdeflate-tools >/dev/null
bash bench/make_corpus.sh >/dev/null
# tmpfs: on ext4 here, creating ~3,000 files right after deleting them costs
# more than decoding them.
tmp=$(mktemp -d /dev/shm/sfxbench.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
bytes=$(du -sb bench/corpus --exclude=.done | cut -f1)
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
time_of() {
  for _ in $(seq "$RUNS"); do
    rm -rf "$tmp/out" && mkdir -p "$tmp/out"
    local start end
    start=$(date +%s.%N)
    (cd "$tmp/out" && "$@") >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc
  done | median
}
mbs() { echo "$bytes / $1 / 1000000" | bc -l; }
printf 'corpus: %d bytes; median of %d runs; output MB/s\n' "$bytes" "$RUNS"
tar -C bench/corpus -cf "$tmp/corpus.tar" text bin
libdeflate-gzip -6 -c "$tmp/corpus.tar" > "$tmp/corpus.tar.gz"
deflate=$(mbs "$(time_of sh -c "libdeflate-gunzip -c $tmp/corpus.tar.gz > corpus.tar")")
printf '%-8s %10s %10s %10s %9s %9s %12s\n' method ours lhasa 7z ours/7z ours/lhasa ours/deflate
for m in 5 6 7; do
  dist/mksfx --stub dist/sfxstub32.exe --method lh$m -o "$tmp/lh$m.exe" bench/corpus
  dist/mksfx --archive-only --method lh$m -o "$tmp/lh$m.lzh" bench/corpus
  ours=$(build/release/bench/decode_bench "$tmp/lh$m.exe" "$tmp/ours" "$RUNS" | awk '{print $2}')
  lhasa=$(mbs "$(time_of lhasa xq "$tmp/lh$m.lzh")")
  sevenz=$(mbs "$(time_of 7z x -y "$tmp/lh$m.lzh")")
  printf '%-8s %10.1f %10.1f %10.1f %9.2f %9.2f %12.2f\n' "-lh$m-" "$ours" "$lhasa" "$sevenz" \
    "$(echo "$ours / $sevenz" | bc -l)" "$(echo "$ours / $lhasa" | bc -l)" "$(echo "$ours / $deflate" | bc -l)"
done
# The same pass over stored members: reading, CRC, files and times, no
# decoding. No decoder can make the pass faster than this.
dist/mksfx --stub dist/sfxstub32.exe --method lh0 -o "$tmp/lh0.exe" bench/corpus
stored=$(build/release/bench/decode_bench "$tmp/lh0.exe" "$tmp/ours" "$RUNS" | awk '{print $2}')
printf 'libdeflate-gunzip: %.1f MB/s\n' "$deflate"
printf 'ours on -lh0- (stored, the floor of the pass): %.1f MB/s\n' "$stored"
printf 'stubs: sfxstub32.exe %d bytes, sfxstub64.exe %d bytes\n' "$(stat -c %s dist/sfxstub32.exe)" "$(stat -c %s dist/sfxstub64.exe)"

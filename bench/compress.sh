#!/usr/bin/env bash
# Compression benchmark: mksfx's encoder for -lh5-, -lh6- and -lh7- side by
# side with jlha (Debian's jlha-utils, the LZH archiver with compression) on
# the same corpus. Prints compressed sizes and MB/s (median of RUNS runs).
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${RUNS:-3}
command -v jlha >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq jlha-utils >/dev/null
[ -x dist/mksfx ] || bash scripts/build >/dev/null
bash bench/make_corpus.sh >/dev/null
input=$(du -sb bench/corpus --exclude=.done | cut -f1)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
time_of() {  # time_of COMMAND...: seconds, median of RUNS
  for _ in $(seq "$RUNS"); do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc
  done | median
}
printf 'corpus: %d bytes (%s)\n' "$input" "bench/corpus"
printf '%-14s %12s %8s %9s\n' tool size ratio MB/s
for m in 5 6 7; do
  t=$(time_of dist/mksfx --archive-only --method lh$m -o "$tmp/m$m.lzh" bench/corpus)
  s=$(stat -c %s "$tmp/m$m.lzh")
  printf '%-14s %12d %7.2f%% %9.2f\n' "mksfx -lh$m-" "$s" "$(echo "100*$s/$input" | bc -l)" "$(echo "$input/$t/1000000" | bc -l)"
  (cd bench/corpus && t=$(time_of sh -c "rm -f $tmp/j$m.lzh; jlha a2qo$m $tmp/j$m.lzh text bin") && s=$(stat -c %s "$tmp/j$m.lzh") &&
    printf '%-14s %12d %7.2f%% %9.2f\n' "jlha -lh$m-" "$s" "$(echo "100*$s/$input" | bc -l)" "$(echo "$input/$t/1000000" | bc -l)")
  eval "m$m=$(stat -c %s "$tmp/m$m.lzh") j$m=$(stat -c %s "$tmp/j$m.lzh")"
done
printf 'mksfx -lh7- size / jlha -lh7- size: %.3f (goal: at most 0.95)\n' "$(echo "$m7/$j7" | bc -l)"
# Our headers carry the attribute and the times a second time, as extended
# headers 0x40 and 0x41: the compressed data alone, for comparison.
data_of() { lhasa -v "$1" | awk '$1 == "Total" {print $4}'; }
printf 'the same for the compressed data alone: %.3f (headers: %d bytes against %d)\n' \
  "$(echo "$(data_of "$tmp/m7.lzh")/$(data_of "$tmp/j7.lzh")" | bc -l)" \
  "$((m7 - $(data_of "$tmp/m7.lzh")))" "$((j7 - $(data_of "$tmp/j7.lzh")))"

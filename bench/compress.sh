#!/usr/bin/env bash
# Compression benchmark: mksfx's encoder (-lh5-, -lh6-, -lh7-, and -lh7- with
# --best) side by side with jlha (Debian's jlha-utils, the LZH archiver with
# compression) on two corpora: many small files and two large ones. Prints
# compressed sizes, wall-clock MB/s and CPU seconds (user + system; mksfx
# packs members on two threads, jlha on one), each the median of RUNS runs.
# For scale, once: 7-Zip's strongest Deflate64 (a 64 KiB window and Huffman
# blocks, the format nearest -lh7-). "data" leaves out every header.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${RUNS:-3}
command -v jlha >/dev/null && command -v 7z >/dev/null ||
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq jlha-utils p7zip-full >/dev/null
[ -x dist/mksfx ] || bash scripts/build >/dev/null
bash bench/make_corpus.sh >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# measure OUT COMMAND...: runs RUNS times; sets wall and cpu (medians), size of OUT.
measure() {
  local out=$1 i
  shift
  : > "$tmp/times"
  for i in $(seq "$RUNS"); do
    rm -f "$out"
    local TIMEFORMAT='%R %U %S'
    { time "$@" >/dev/null 2>&1; } 2>> "$tmp/times"
  done
  wall=$(awk '{print $1}' "$tmp/times" | median)
  cpu=$(awk '{print $2 + $3}' "$tmp/times" | median)
  size=$(stat -c %s "$out")
  data=$(7z l -slt "$out" | awk -F' = ' '/^Packed Size/ {s += $2} END {print s}')
}
for corpus in corpus corpus-large; do
  dir=bench/$corpus
  input=$(du -sb "$dir" --exclude=.done | cut -f1)
  printf '\n%s: %d bytes in %d files\n' "$dir" "$input" "$(find "$dir" -type f ! -name .done | wc -l)"
  printf '%-18s %12s %8s %9s %8s %10s %10s %9s\n' tool size ratio MB/s CPU-s "size/jlha" "data/jlha" "CPU/jlha"
  row() {  # row NAME: the last measure against jlha's of the same method
    printf '%-18s %12d %7.2f%% %9.2f %8.2f %10.3f %10.3f %9.2f\n' "$1" "$size" "$(echo "100*$size/$input" | bc -l)" \
      "$(echo "$input/$wall/1000000" | bc -l)" "$cpu" "$(echo "$size/$jsize" | bc -l)" "$(echo "$data/$jdata" | bc -l)" \
      "$(echo "$cpu/$jcpu" | bc -l)"
  }
  for m in 5 6 7; do
    cd "$dir"
    measure "$tmp/j.lzh" jlha "a2qo$m" "$tmp/j.lzh" $(ls)
    cd - >/dev/null
    jsize=$size jcpu=$cpu jdata=$data
    row "jlha -lh$m-"
    measure "$tmp/m.lzh" dist/mksfx -q --archive-only --method "lh$m" -o "$tmp/m.lzh" -C "$dir" $(ls "$dir")
    row "mksfx -lh$m-"
  done
  measure "$tmp/m.lzh" dist/mksfx -q --archive-only --method lh7 --best -o "$tmp/m.lzh" -C "$dir" $(ls "$dir")
  row "mksfx -lh7- --best"
  cd "$dir"
  RUNS=1 measure "$tmp/r.zip" 7z a -tzip -mm=Deflate64 -mx=9 -mfb=257 -mpass=15 "$tmp/r.zip" $(ls)
  cd - >/dev/null
  row "7z Deflate64 -mx9"
done
echo
echo "goals: default -lh7- at most 0.950 of jlha's size with no more CPU seconds;"
echo "       --best at most 0.930 of jlha's size with at most 5 times jlha's CPU seconds"

#!/usr/bin/env bash
# Compression benchmark: mksfx's encoder (-lh5-, -lh6-, -lh7-, and -lh7- with
# --best) side by side with jlha (Debian's jlha-utils, the LZH archiver with
# compression) on two corpora: many small files and two large ones. Prints
# compressed sizes, wall-clock MB/s and CPU seconds (user + system; mksfx
# packs members on two threads, jlha on one), each the median of RUNS runs.
# The runs of the tools compared take turns, so that a slow spell of the
# machine falls on all of them alike.
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
# once OUT COMMAND...: one timed run writing OUT; its times go to OUT.times.
once() {
  local out=$1 TIMEFORMAT='%R %U %S'
  shift
  rm -f "$out"
  { time "$@" >/dev/null 2>&1; } 2>> "$out.times"
}
# result OUT: sets wall and cpu (medians of the runs that wrote OUT), size and data of OUT.
result() {
  wall=$(awk '{print $1}' "$1.times" | median)
  cpu=$(awk '{print $2 + $3}' "$1.times" | median)
  size=$(stat -c %s "$1")
  data=$(7z l -slt "$1" | awk -F' = ' '/^Packed Size/ {s += $2} END {print s}')
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
  files=$(ls "$dir")
  for m in 5 6 7; do
    rm -f "$tmp"/*.times
    for i in $(seq "$RUNS"); do
      (cd "$dir" && once "$tmp/j.lzh" jlha "a2qo$m" "$tmp/j.lzh" $files)
      once "$tmp/m.lzh" dist/mksfx -q --archive-only --method "lh$m" -o "$tmp/m.lzh" -C "$dir" $files
      [ $m != 7 ] || once "$tmp/b.lzh" dist/mksfx -q --archive-only --method lh7 --best -o "$tmp/b.lzh" -C "$dir" $files
    done
    result "$tmp/j.lzh"
    jsize=$size jcpu=$cpu jdata=$data
    row "jlha -lh$m-"
    result "$tmp/m.lzh"
    row "mksfx -lh$m-"
  done
  result "$tmp/b.lzh"
  row "mksfx -lh7- --best"
  (cd "$dir" && once "$tmp/r.zip" 7z a -tzip -mm=Deflate64 -mx=9 -mfb=257 -mpass=15 "$tmp/r.zip" $files)
  result "$tmp/r.zip"
  row "7z Deflate64 -mx9"
done
echo
echo "goals: default -lh7- at most 0.950 of jlha's size with no more CPU seconds;"
echo "       --best at most 0.930 of jlha's size with at most 5 times jlha's CPU seconds"

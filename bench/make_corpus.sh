#!/usr/bin/env bash
# Builds the benchmark corpora: bench/corpus (about 56 MB of many small
# files), the first 32 MB of C headers under /usr/include and the first 24 MB
# of programs under /usr/bin; and bench/corpus-large (20 MiB in two files),
# 16 MiB of those headers and 4 MiB of those programs, each joined into one.
# Sets are taken in sorted path order, so the same machine image always gives
# the same corpora.
set -euo pipefail
cd "$(dirname "$0")"
[ -f corpus/.done ] && [ -f corpus-large/.done ] && exit 0
rm -rf corpus corpus-large
mkdir -p corpus/text corpus/bin
take() {  # take DIR PATTERN LIMIT_BYTES OUT
  local total=0 n=0
  while IFS= read -r f; do
    size=$(stat -c %s "$f")
    [ $((total + size)) -gt "$3" ] && break
    n=$((n + 1))
    cp "$f" "$4/$(printf '%05d' $n)_$(basename "$f")"
    total=$((total + size))
  done < <(find "$1" -type f -name "$2" -size +0 | LC_ALL=C sort)
}
take /usr/include '*.h' $((32 * 1024 * 1024)) corpus/text
take /usr/bin '*' $((24 * 1024 * 1024)) corpus/bin
mkdir -p corpus-large
head -c $((16 * 1024 * 1024)) < <(cat corpus/text/*) > corpus-large/headers.txt
head -c $((4 * 1024 * 1024)) < <(cat corpus/bin/*) > corpus-large/programs.bin
touch corpus/.done corpus-large/.done
du -sb corpus | cut -f1

#!/usr/bin/env bash
# Memory benchmark: mksfx's peak resident memory (GNU time's "Maximum
# resident set size") packing one 3 GiB file, a sparse one (SIZE= to change
# it), and the two bench corpora, at every method and with --best. The bound
# is 256 MB whatever the input's size; a row above it is marked and the
# status is 1. NOISE=1 adds a file of the same size that is not sparse and
# does not shrink (it needs that much room in TMPDIR, twice: the file, and the
# compressed data mksfx puts aside before it stores the file).
# MKSFX= measures another build.
set -euo pipefail
cd "$(dirname "$0")/.."
MKSFX=${MKSFX:-dist/mksfx}
SIZE=${SIZE:-3G}
LIMIT_KB=$((256000000 / 1024))  # GNU time counts KiB
[ -x /usr/bin/time ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
[ -x "$MKSFX" ] || bash scripts/build >/dev/null
bash bench/make_corpus.sh >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
truncate -s "$SIZE" "$tmp/sparse"
inputs=("$tmp/sparse" bench/corpus bench/corpus-large)
if [ "${NOISE:-0}" = 1 ]; then
  head -c "$SIZE" /dev/urandom > "$tmp/noise"
  inputs+=("$tmp/noise")
fi
printf '%-20s %-12s %12s %10s %9s %9s\n' input method input-MB peak-MB wall-s CPU-s
over=0
for input in "${inputs[@]}"; do
  mb=$(du -sb --apparent-size "$input" | awk '{printf "%.1f", $1 / 1e6}')
  for method in lh0 lh5 lh6 lh7 "lh7 --best"; do
    # shellcheck disable=SC2086
    /usr/bin/time -f '%M %e %U %S' -o "$tmp/time" "$MKSFX" -q --archive-only --method $method \
      -o "$tmp/out.lzh" "$input"
    read -r kb wall user sys < "$tmp/time"
    mark=""
    [ "$kb" -le "$LIMIT_KB" ] || mark="  over 256 MB" over=1
    printf '%-20s %-12s %12s %10.1f %9.2f %9.2f%s\n' "$(basename "$input")" "$method" "$mb" \
      "$(echo "$kb * 1024 / 1000000" | bc -l)" "$wall" "$(echo "$user + $sys" | bc -l)" "$mark"
    rm -f "$tmp/out.lzh"
  done
done
exit $over

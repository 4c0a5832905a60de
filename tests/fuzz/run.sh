#!/usr/bin/env bash
# run.sh TARGET SEEDS SECONDS: fuzzes for a bounded time from the committed
# seeds (new inputs go to a scratch copy); any crash fails the test and leaves
# its input in the scratch directory.
set -euo pipefail
target=$1 seeds=$2 seconds=$3
work=$(mktemp -d /tmp/sfxfuzz.XXXXXX)
mkdir -p "$work/corpus"
cp -r "$seeds"/. "$work/corpus/" 2>/dev/null || true
cd "$work"
"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 corpus 2>&1 | tail -12
rm -rf "$work"

#!/usr/bin/env bash
# Runs every libFuzzer target for the given number of seconds, each with its
# seed corpus from fuzz/corpus/<name> when there is one.
set -euo pipefail
dir=${1:-build-fuzz}; secs=${2:-60}
top=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
progs=("$dir"/fuzz/fuzz_*)
[ ${#progs[@]} -gt 0 ] || { echo "no fuzz targets built"; exit 0; }
for f in "${progs[@]}"; do
  [ -x "$f" ] || continue
  name=$(basename "$f"); name=${name#fuzz_}
  work="$dir/corpus/$name"; mkdir -p "$work"
  seeds=(); [ -d "$top/fuzz/corpus/$name" ] && seeds=("$top/fuzz/corpus/$name")
  echo "== $name for ${secs}s"
  "$f" -max_total_time="$secs" -print_final_stats=1 "$work" "${seeds[@]}"
done

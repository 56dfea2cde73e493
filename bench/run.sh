#!/usr/bin/env bash
# Runs every benchmark program of a bench build, one after the other.
set -euo pipefail
dir=${1:-build-bench}
shopt -s nullglob
progs=("$dir"/bench/bench_*)
[ ${#progs[@]} -gt 0 ] || { echo "no benchmarks built"; exit 0; }
for b in "${progs[@]}"; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true
done

#!/usr/bin/env bash
# Runs every test program of a build whole, in one process each, with its
# tests in a shuffled order: a test that leans on state another test left
# behind (a singleton, an environment variable, a late completion) fails
# here, where ctest's one-process-per-test layout would hide it.
#
#   scripts/run-shuffled.sh <build dir> [jobs]
#
# The seed is printed with each program; rerun one order with
# PELLIX_SHUFFLE_SEED=<seed>. Programs run side by side, `jobs` at a time.
set -uo pipefail
build=${1:?build directory}
jobs=${2:-$(nproc)}
seed=${PELLIX_SHUFFLE_SEED:-$(( (RANDOM << 15 | RANDOM) % 99999 + 1 ))}
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

programs=()
for p in "$build"/tests/*_tests; do
  [[ -x $p ]] && programs+=("$p")
done
if (( ${#programs[@]} == 0 )); then
  echo "no test programs under $build/tests" >&2
  exit 1
fi
echo "shuffled runs of ${#programs[@]} programs, seed $seed (rerun: PELLIX_SHUFFLE_SEED=$seed)"

export PELLIX_SOURCE_DIR=${PELLIX_SOURCE_DIR:-$(cd "$(dirname "$0")/.." && pwd)}
export PELLIX_BUILD_DIR=${PELLIX_BUILD_DIR:-$(cd "$build" && pwd)}
run_one() {
  local program=$1 name
  name=$(basename "$program")
  if timeout 1800 "$program" --gtest_shuffle --gtest_random_seed="$seed" >"$logs/$name.log" 2>&1; then
    echo "passed  $name"
  else
    echo "FAILED  $name (exit $?, seed $seed)"
    touch "$logs/$name.failed"
  fi
}
export -f run_one
export logs seed
printf '%s\n' "${programs[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one "$1"' _ {}

failed=$(find "$logs" -name '*.failed' | wc -l)
echo "shuffled: $(( ${#programs[@]} - failed )) passed, $failed failed"
status=0
for f in "$logs"/*.failed; do
  [[ -e $f ]] || continue
  name=$(basename "$f" .failed)
  echo "===== $name (seed $seed) ====="
  # The failures and the lines around them, not the whole log.
  grep -E -B2 -A12 'Failure|FAILED|ERROR: AddressSanitizer|runtime error|Segmentation|Aborted' "$logs/$name.log" | tail -n 200
  status=1
done
exit $status

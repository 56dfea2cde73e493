#!/usr/bin/env bash
# Installs what the build needs on a Debian 12 machine: with `library`, what
# building and running the library needs; by default also what the tests,
# benchmarks and their peers need (including the peers' Node.js packages).
# Idempotent, and silent when everything is already there. A step that fails
# prints the command and the end of its output.
#
#   scripts/setup.sh [library|all]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
scope=${1:-all}
case $scope in
  library) sections='library' ;;
  all) sections='library|tests' ;;
  *) echo "usage: $0 [library|all]" >&2; exit 2 ;;
esac

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Runs a command with its output kept aside; on failure, shows the command,
# the last lines it printed and what the step needs.
run() {
  local need=$1; shift
  local status=0
  "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    {
      echo "setup: failed (exit status $status): $*"
      tail -n 25 "$log" | sed 's/^/  | /'
      echo "setup: this step needs $need"
    } >&2
    exit 1
  fi
}
sources="the Debian package sources (apt-get update must reach them)"

# The packages of the chosen sections.
wanted=()
section=
while IFS= read -r line; do
  line=${line%%#*}; line=${line//[[:space:]]/}
  [ -n "$line" ] || continue
  if [[ $line =~ ^\[(.*)\]$ ]]; then section=${BASH_REMATCH[1]}; continue; fi
  [[ $section =~ ^($sections)$ ]] && wanted+=("$line")
done <"$here/apt-packages.txt"

missing=()
for p in "${wanted[@]}"; do
  # nodejs from another source also brings npm; any installed nodejs will do.
  if [ "$p" = nodejs ] && command -v node >/dev/null 2>&1; then continue; fi
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  run "$sources" $sudo apt-get update
  run "$sources" $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
[ "$scope" = all ] || exit 0

if ! command -v npm >/dev/null 2>&1; then
  run "$sources" $sudo apt-get install -y --no-install-recommends npm
fi
# Pinned Node.js packages of the test peers (lock files checked in).
for lock in $(find "$top/tests/peers" -name package-lock.json -not -path '*/node_modules/*' 2>/dev/null); do
  dir=$(dirname "$lock")
  if [ ! -d "$dir/node_modules" ] || [ "$lock" -nt "$dir/node_modules" ]; then
    (cd "$dir" && run "the npm registry (the test peers' Node.js packages)" npm ci --no-audit --no-fund &&
      touch node_modules)
  fi
done

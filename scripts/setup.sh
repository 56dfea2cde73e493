#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine.
# Idempotent, and silent when everything is already there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")

mapfile -t wanted < <(grep -v '^\s*#' "$here/apt-packages.txt" | sed '/^\s*$/d')
missing=()
for p in "${wanted[@]}"; do
  # nodejs from another source also brings npm; any installed nodejs will do.
  if [ "$p" = nodejs ] && command -v node >/dev/null 2>&1; then continue; fi
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if ! command -v npm >/dev/null 2>&1; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq npm >/dev/null
fi

# Pinned Node.js packages of the test peers (lock files checked in).
for lock in $(find "$top/tests/peers" -name package-lock.json -not -path '*/node_modules/*' 2>/dev/null); do
  dir=$(dirname "$lock")
  if [ ! -d "$dir/node_modules" ] || [ "$lock" -nt "$dir/node_modules" ]; then
    (cd "$dir" && npm ci --no-audit --no-fund --silent && touch node_modules)
  fi
done

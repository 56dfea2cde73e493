#!/usr/bin/env bash
# scripts/setup.sh as a newcomer meets it when a package source or the npm
# registry cannot be reached: it names the failing command and shows the end
# of its output, and says nothing when all is well. The script runs from a
# copy of the tree with apt-get, dpkg-query, npm and sudo replaced by
# stand-ins that fail or succeed on demand.
#
#   tests/install/setup_test.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

tree=$work/tree
mkdir -p "$tree/scripts" "$tree/tests/peers/p" "$work/bin"
cp "$source_dir/scripts/setup.sh" "$source_dir/scripts/apt-packages.txt" "$tree/scripts/"
echo '{}' >"$tree/tests/peers/p/package-lock.json"

fake() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
# Installed unless named in FAKE_MISSING.
fake dpkg-query 'p=${!#}; [[ " $FAKE_MISSING " == *" $p "* ]] || printf "install ok installed"'
# Many lines of progress, then the error a newcomer needs to see.
fake apt-get 'if [ -n "${FAKE_APT_FAIL:-}" ]; then
  for i in $(seq 1 40); do echo "Get:$i progress line $i"; done
  echo "E: Failed to fetch http://deb.example/dists/bookworm/InRelease  Could not resolve host"; exit 100
fi'
fake npm 'if [ -n "${FAKE_NPM_FAIL:-}" ]; then
  for i in $(seq 1 40); do echo "npm http fetch line $i."; done
  echo "npm ERR! request to https://registry.example/ws failed, reason: getaddrinfo EAI_AGAIN"; exit 1
fi; mkdir -p node_modules'
fake node 'exit 0'
fake sudo 'exec "$@"'

failures=0
# name | scope | FAKE_MISSING | FAKE_APT_FAIL | FAKE_NPM_FAIL | exit | expected lines (;-separated) | lines that must not appear
cases=(
  "apt source unreachable|all|libssl-dev|1||1|setup: failed (exit status 100): apt-get update;E: Failed to fetch http://deb.example;Get:40 progress line 40;needs the Debian package sources|Get:1 progress line 1"
  "npm registry unreachable|all|||1|1|setup: failed (exit status 1): npm ci --no-audit --no-fund;npm ERR! request to https://registry.example/ws failed;needs the npm registry|npm http fetch line 1."
  "all there|all||||0||setup:"
  "missing package installs|all|sox|||0|setup: installing sox|failed"
  "library set-up skips the test peers|library|sox|1|1|0||setup:"
  "library set-up still installs the library's|library|libssl-dev|1||1|setup: installing libssl-dev;apt-get update|"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name scope missing apt_fail npm_fail want_exit want_lines unwanted <<<"$c"
  rm -rf "$tree/tests/peers/p/node_modules"
  status=0
  out=$(cd "$work" && PATH="$work/bin:$PATH" FAKE_MISSING="$missing" FAKE_APT_FAIL="$apt_fail" \
        FAKE_NPM_FAIL="$npm_fail" bash "$tree/scripts/setup.sh" "$scope" 2>&1) || status=$?
  bad=""
  if { [ "$want_exit" = 0 ] && [ "$status" -ne 0 ]; } || { [ "$want_exit" != 0 ] && [ "$status" -eq 0 ]; }; then
    bad+=" exit status $status;"
  fi
  IFS=';' read -ra lines <<<"$want_lines"
  for l in "${lines[@]}"; do
    [ -z "$l" ] || grep -qF -- "$l" <<<"$out" || bad+=" no \"$l\";"
  done
  if [ -n "$unwanted" ] && grep -qF -- "$unwanted" <<<"$out"; then bad+=" has \"$unwanted\";"; fi
  if [ -n "$bad" ]; then
    echo "FAIL $name:$bad"; echo "$out" | sed 's/^/    /'; failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
done
exit $((failures > 0))

#!/usr/bin/env bash
# Starts the local peers the example host talks to, runs it, stops them.
#
# The platform stand-in runs on a free loopback port with a throwaway CA and
# leaf certificate made here; the example host trusts that CA through
# SSL_CERT_FILE and keeps its files in a temporary home.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)

tmp=$(mktemp -d)
standin_pid=""
cleanup() {
    if [ -n "$standin_pid" ]; then kill "$standin_pid" 2>/dev/null || true; wait "$standin_pid" 2>/dev/null || true; fi
    rm -rf "$tmp"
}
trap cleanup EXIT

(
    cd "$tmp"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca.key -out ca.pem -days 2 \
        -subj "/CN=Pellix Example CA" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout leaf.key -out leaf.csr \
        -subj "/CN=127.0.0.1" 2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n' > ext.cnf
    openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out leaf.pem -days 2 \
        -extfile ext.cnf 2>/dev/null
)

node "$root/tests/peers/platform/server.js" --cert "$tmp/leaf.pem" --key "$tmp/leaf.key" --port 0 \
    > "$tmp/standin.out" 2> "$tmp/standin.err" &
standin_pid=$!
port=""
for _ in $(seq 1 100); do
    port=$(sed -n 's/^listening \([0-9]*\)$/\1/p' "$tmp/standin.out")
    [ -n "$port" ] && break
    sleep 0.1
done
if [ -z "$port" ]; then
    echo "the platform stand-in did not start:" >&2
    cat "$tmp/standin.err" >&2
    exit 1
fi

mkdir -p "$tmp/home"
SSL_CERT_FILE="$tmp/ca.pem" "$build/examples/pellix_example" "$port" "$tmp/home"

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
broker_pid=""
door_pid=""
cleanup() {
    for pid in $door_pid $broker_pid $standin_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
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

# A local broker for the door-call messages, on a free loopback port.
mqtt_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$mqtt_port" > "$tmp/mosquitto.conf"
mosquitto -v -c "$tmp/mosquitto.conf" > "$tmp/mosquitto.log" 2>&1 &
broker_pid=$!

# The door station: once the resident's session has subscribed its room
# topic, it publishes a door call there.
(
    for _ in $(seq 1 300); do
        grep -q "Received SUBSCRIBE" "$tmp/mosquitto.log" 2>/dev/null && break
        sleep 0.1
    done
    topic=$(sed -n 's/^  topic  *\([^,]*\).*$/\1/p' "$tmp/host.out" | head -1)
    mosquitto_pub -h 127.0.0.1 -p "$mqtt_port" -q 1 -t "$topic" -m \
        '{"cmd":"makeCall","transactionID":"tx-example","expiredAt":4102444800,"data":{"incomingType":1,"doorSipNO":"8001","doorName":"Front gate","doorGuid":"g-1","appRoomID":"'"${topic##*/}"'"}}'
    echo "[door station] published a door call on $topic" >&2
) &
door_pid=$!

mkdir -p "$tmp/home"
status=0
SSL_CERT_FILE="$tmp/ca.pem" "$build/examples/pellix_example" "$port" "$tmp/home" "$mqtt_port" \
    | tee "$tmp/host.out" || status=$?
echo "example host exit status: $status"
exit "$status"

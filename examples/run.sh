#!/usr/bin/env bash
# Starts the local peers the example host talks to, runs it, stops them.
#
#   examples/run.sh [build dir]
#
# The peers, all on free loopback ports:
# - the platform stand-in (HTTPS, with a throwaway CA and leaf made here; the
#   example host trusts that CA through SSL_CERT_FILE and keeps its files in a
#   temporary home). Its user record names the broker and the SIP server below.
# - mosquitto, the broker of the door-call messages.
# - sipp as the door station and its SIP server (examples/door_station.xml):
#   it registers the resident's phone, answers its call with -rtp_echo and
#   sees the BYE and the un-REGISTER.
# - the object-store stand-in (plain HTTP, answering for its test domain,
#   which the host maps to 127.0.0.1): the platform's user record names it,
#   and the platform hands out storage credentials the store issued.
# - mosquitto_sub as another device of the resident's room 5001: it shows
#   the door call and the "hangUpCall" the host's facade publishes when the
#   call connects.
# Once the host's session has subscribed its room topic and the phone is
# registered, the stand-in publishes the door call of door 7001 to room 5001.
#
# The peers' lines carry the milliseconds since the host was started, as the
# host's own lines do (PELLIX_EXAMPLE_T0_US tells the host that moment). The last line is the host's exit status; the script
# exits with it, or with 1 when a peer missed a step the host cannot see.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)

tmp=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT

# Free loopback ports: the broker's TCP port, the SIP server's UDP port and
# four UDP ports in a row for sipp's echo (audio RTP/RTCP, video RTP/RTCP).
read -r mqtt_port sip_port media_port < <(python3 - <<'EOF'
import socket
def free(kind):
    s = socket.socket(socket.AF_INET, kind)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port
def free_run():
    for _ in range(100):
        base = free(socket.SOCK_DGRAM) & ~3
        if not 1024 < base < 60000:
            continue
        try:
            held = []
            for p in range(base, base + 4):
                s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                held.append(s)
                s.bind(("127.0.0.1", p))
            return base
        except OSError:
            pass
        finally:
            for s in held:
                s.close()
    raise SystemExit("no free UDP ports")
sip = free(socket.SOCK_DGRAM)
media = free_run()
while media <= sip <= media + 3:
    media = free_run()
print(free(socket.SOCK_STREAM), sip, media)
EOF
)

wait_for() {  # seconds, what, command...
    local tries=$(( $1 * 10 )) what=$2
    shift 2
    for _ in $(seq 1 "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    echo "$what did not start" >&2
    return 1
}
tcp_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
udp_bound() { grep -q "^ *[0-9]*: [0-9A-F]*:$(printf '%04X' "$1") " /proc/net/udp; }

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

printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$mqtt_port" > "$tmp/mosquitto.conf"
mosquitto -v -c "$tmp/mosquitto.conf" > "$tmp/mosquitto.log" 2>&1 &
pids+=($!)
wait_for 30 "mosquitto" tcp_open "$mqtt_port" || { cat "$tmp/mosquitto.log" >&2; exit 1; }

# -timeout bounds the door station's life should anything hang.
sipp -sf "$root/examples/door_station.xml" -i 127.0.0.1 -p "$sip_port" -mi 127.0.0.1 -mp "$media_port" \
    -rtp_echo -nostdin -trace_logs -log_file "$tmp/door.log" -trace_err -error_file "$tmp/door.err" \
    -timeout 180 -timeout_error > "$tmp/sipp.out" 2>&1 &
pids+=($!)
wait_for 30 "sipp" udp_bound "$sip_port" || { cat "$tmp/sipp.out" >&2; exit 1; }
touch "$tmp/door.log"

node "$root/tests/peers/hos/server.js" --port 0 --bucket photos > "$tmp/store.out" 2> "$tmp/store.err" &
pids+=($!)
store_listening() { grep -q '^{.*"http":[0-9]*' "$tmp/store.out"; }
wait_for 30 "the object store" store_listening || { cat "$tmp/store.err" >&2; exit 1; }
store_port=$(sed -n 's/^{.*"http":\([0-9]*\).*$/\1/p' "$tmp/store.out")
store_domain=$(sed -n 's/^{.*"domain":"\([^"]*\)".*$/\1/p' "$tmp/store.out")

node "$root/tests/peers/platform/server.js" --cert "$tmp/leaf.pem" --key "$tmp/leaf.key" --port 0 \
    --broker-port "$mqtt_port" --sip-host 127.0.0.1 --sip-port "$sip_port" \
    --hos-endpoint "http://$store_domain:$store_port" --hos-bucket photos \
    > "$tmp/standin.out" 2> "$tmp/standin.err" &
pids+=($!)
standin_listening() { grep -q '^listening [0-9]*$' "$tmp/standin.out"; }
wait_for 30 "the platform stand-in" standin_listening || { cat "$tmp/standin.err" >&2; exit 1; }
port=$(sed -n 's/^listening \([0-9]*\)$/\1/p' "$tmp/standin.out")

# The platform's storage credentials are ones the store issued, so that the
# store accepts the host's signed requests.
credentials=$(curl -fsS -X POST -H 'Content-Type: application/json' -d '{"ttlSeconds":3600}' \
    "http://127.0.0.1:$store_port/__admin/tokens")
curl -fsS -o /dev/null --cacert "$tmp/ca.pem" -H 'Content-Type: application/json' \
    -d '{"path":"/sdk/v1/halvane_tokens","times":0,"data":{"remote_directory":{"apk_packages":"apk_packages",'\
'"contact_management":"contact_management","head_portrait":"head_portrait","id_cards":"id_cards",'\
'"visitor_images":"visitor_images"},"token":{"Credentials":'"$credentials"'}}}' \
    "https://127.0.0.1:$port/__admin/rules"

# Another device of room 5001, listening on the room's topic.
mosquitto_sub -h 127.0.0.1 -p "$mqtt_port" -i room-5001-panel -q 1 -t app/room_id/5001 > "$tmp/room.out" 2>&1 &
pids+=($!)
panel_subscribed() { grep -q "Received SUBSCRIBE from room-5001-panel" "$tmp/mosquitto.log"; }
wait_for 30 "the room's other device" panel_subscribed

t0=${EPOCHREALTIME/./}
stamp() {
    local now=${EPOCHREALTIME/./}
    printf '[%6d ms] %s\n' $(( (now - t0) / 1000 )) "$1"
}
# Prints a peer's lines as they appear; tail ends with this script.
follow() {  # prefix file
    tail --pid=$$ -n +1 -F "$2" 2>/dev/null | while IFS= read -r line; do stamp "$1$line"; done
}
follow "door station: " "$tmp/door.log" &
follow "room 5001, another device, receives: " "$tmp/room.out" &

# The platform: once the resident's session (MQTT client id = its SIP number)
# has subscribed and the phone is registered at the SIP server, a visitor
# presses the bell of door 7001 and the platform sends the door call.
(
    for _ in $(seq 1 600); do
        grep -q "Received SUBSCRIBE from 1000101" "$tmp/mosquitto.log" &&
            grep -q "REGISTER of 1000101 accepted" "$tmp/door.log" && break
        sleep 0.1
    done
    stamp "platform: a visitor rings door 7001 (南大门) for room 5001; the platform publishes the door call"
    curl -sS -o /dev/null --cacert "$tmp/ca.pem" -H 'Content-Type: application/json' \
        -d '{"cmd":"makeCall","room_id":"5001","qos":1}' "https://127.0.0.1:$port/__admin/publish" ||
        stamp "platform: publishing the door call failed"
) &
pids+=($!)

mkdir -p "$tmp/home"
status=0
PELLIX_EXAMPLE_T0_US=$t0 SSL_CERT_FILE="$tmp/ca.pem" "$build/examples/pellix_example" "$port" "$tmp/home" "$mqtt_port" \
    || status=$?

# What the host cannot see for itself: the door station's side of the call
# and the message that stops the room's other devices ringing.
door_steps=("REGISTER of 1000101 accepted" "INVITE from sip:1000101 to sip:8007001" "answered;"
    "BYE from the phone" "un-REGISTER of 1000101")
door_saw_all() {
    local s
    for s in "${door_steps[@]}"; do grep -qF "$s" "$tmp/door.log" || return 1; done
}
hangups() { grep -c '"cmd":"hangUpCall".*"toSipNO":"1000101"' "$tmp/room.out" || true; }
peers=0
wait_for 5 "" door_saw_all 2>/dev/null || true
sleep 0.2  # the last peer lines are printed
for s in "${door_steps[@]}"; do
    grep -qF "$s" "$tmp/door.log" || { echo "door station never saw: $s"; peers=1; }
done
if [ "$(hangups)" != 1 ]; then
    echo "room 5001's other device received $(hangups) \"hangUpCall\" messages for 1000101 instead of one"
    peers=1
fi
# The photograph the host stored and the one its property message carried.
photographs=$(curl -sS "http://127.0.0.1:$store_port/__admin/objects?bucket=photos" |
    grep -o '"key":"contact_management/' | wc -l || true)
if [ "$photographs" != 2 ]; then
    echo "the object store holds $photographs property-contact photographs instead of two"
    peers=1
fi
if [ "$peers" != 0 ] && [ -s "$tmp/door.err" ]; then
    echo "door station errors:"
    cat "$tmp/door.err"
    echo
fi
[ "$peers" = 0 ] && echo "peers: the door station saw the whole call, room 5001's other device one \"hangUpCall\"" \
    "and the object store holds two photographs"
echo "example host exit status: $status"
[ "$status" = 0 ] && exit "$peers"
exit "$status"

#!/usr/bin/env bash
# Load benchmark of the receiver port: the headless receiver against the communicator simulator,
# both built as Release and sharing this machine. For 1, 50 and 500 connections, plain and AES-256,
# it prints answered messages per second and the answer latency (p50, p99, max).
#
# The sustained runs send link tests ("NULL"): they take the whole receive path (parse, answer,
# object update with its file write, journal append) and, not being reportable, never fill the
# journal. Without automation software taking events, Contact ID messages would fill the 4096-slot
# journal and then, by design, go unanswered; the Contact ID runs therefore stay below 4096
# messages each, on a fresh data folder.
#
# Usage: bench/receiver_load.sh [port]    (environment: BUILD_DIR, default build-release)
set -euo pipefail
cd "$(dirname "$0")/.."

PORT="${1:-17777}"
BUILD_DIR="${BUILD_DIR:-build-release}"
KEY=603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENOR_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target quenor-headless dc09-dialler >/dev/null

RECEIVER_PID=""
DATA_HOME=""
stop_receiver() {
  if [[ -n "$RECEIVER_PID" ]]; then
    kill -TERM "$RECEIVER_PID" 2>/dev/null || true
    wait "$RECEIVER_PID" 2>/dev/null || true
    RECEIVER_PID=""
  fi
  if [[ -n "$DATA_HOME" ]]; then rm -rf "$DATA_HOME"; DATA_HOME=""; fi
}
trap stop_receiver EXIT

# Writes the 256-byte settings record: defaults, receiver port open on $PORT, AES mode $1.
write_settings() {
  python3 - "$1" "$2" "$PORT" "$KEY" <<'EOF'
import struct, sys
path, mode, port, key = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), bytes.fromhex(sys.argv[4])
r = bytearray(256)
struct.pack_into('<Biib', r, 0, 1, port, 30, mode)        # enable, port, timeout 30, AES mode
if mode: r[16:48] = key
struct.pack_into('<BBib', r, 48, 0, 1, 9999, 1)           # link closed, server mode, 9999, HB 1
r[64:64 + 9] = b'127.0.0.1'
struct.pack_into('<iibBi', r, 86, 9600, 30, 0, 0, 1602)   # baud, heartbeat, format, synch, stamp
open(path, 'wb').write(r)
EOF
}

start_receiver() {
  DATA_HOME="$(mktemp -d)"
  local folder="$DATA_HOME/ORN RAD-EZ Ududerud"
  mkdir -m 700 "$folder"
  write_settings "$folder/dorvex.cfg" "$1"
  XDG_DATA_HOME="$DATA_HOME" "$BUILD_DIR/quenor-headless" >/dev/null 2>&1 &
  RECEIVER_PID=$!
  for _ in $(seq 100); do
    if grep -qs "Port $PORT is open." "$folder"/dorvex_*.log; then return 0; fi
    sleep 0.1
  done
  echo "receiver did not open port $PORT" >&2
  exit 1
}

# run TOKEN AES CONNECTIONS MESSAGES [RATE]
run() {
  local token=$1 aes=$2 connections=$3 messages=$4 rate=${5:-0}
  local key_option=()
  [[ "$aes" == 3 ]] && key_option=(--key "$KEY")
  [[ "$rate" != 0 ]] && key_option+=(--rate "$rate")
  start_receiver "$aes"
  local json
  json=$("$BUILD_DIR/dc09-dialler" --port "$PORT" --token "$token" --account 1234 \
    --connections "$connections" --messages "$messages" "${key_option[@]}" --json || true)
  stop_receiver
  python3 - "$token" "$aes" "$json" "$rate" <<'EOF'
import json, sys
token, aes, r, rate = sys.argv[1], int(sys.argv[2]), json.loads(sys.argv[3]), int(sys.argv[4])
l = r['latency_ms']
offered = f"at {rate}/s" if rate else "flat out"
print(f"{token:8} {'AES-256' if aes else 'plain':8} {r['connections']:5} x {r['messages_per_connection']:<6} {offered:10}"
      f" answered {r['answered']:7} (ACK {r['ack']}, no answer {r['no_answer']})"
      f"  {r['answered_per_s']:9.0f}/s  p50 {l['p50']:.3f} ms  p99 {l['p99']:.3f} ms  max {l['max']:.3f} ms")
EOF
}

# Flat out, each connection sends its next message as soon as the answer came: throughput. With
# 500 messages always in flight the latency is mostly queueing (about 500 / throughput).
# At a fixed offered rate over 500 connections: the answer latency of a receiver that keeps up.
echo "token    cipher   conns x msgs   offered"
for aes in 0 3; do
  run NULL "$aes" 1 20000
  run NULL "$aes" 50 1000
  run NULL "$aes" 500 100
  run ADM-CID "$aes" 50 80
  run ADM-CID "$aes" 500 8
  run NULL "$aes" 500 20 2000
  run NULL "$aes" 500 40 5000
done

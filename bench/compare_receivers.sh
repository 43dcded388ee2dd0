#!/usr/bin/env bash
# The receiver against the least a receiver can do on this machine: quenor and the reference
# server (bench/reference_server/, one epoll loop answering every frame with a fixed ACK) are run
# in turns (quenor, reference, quenor, reference, ...), the server pinned to one core and the
# project's dialler to the other with taskset, and the ratios are printed. quenor runs headless
# (QT_QPA_PLATFORM=offscreen) in its own temporary data and runtime folders, configured only by a
# written dorvex.cfg (heartbeat 0, automation link closed), as bench/run_load.sh runs it.
#
# Measured, each in every round (ROUNDS, default 2; the table shows the mean and each round):
#   - link tests flat out at 1 x 20000, 50 x 4000, 500 x 400 and 5000 x 40 connections x
#     messages (each connection sends its next message after the previous answer): answered
#     messages per second and p99 answer time, quenor against the reference;
#   - AES-256 against plain at 50 connections (quenor);
#   - quenor with the write-ahead on against off (QUENOR_BENCH_NO_WRITE_AHEAD=1) at 50
#     connections;
#   - the reference with its write-ahead (slot and head written, one sync per pass before the
#     pass's answers; fdatasync, then a shared mapping with msync) at 50 and 500 connections:
#     what the sync itself costs;
#   - with UDP on: link tests over UDP from 500 senders against TCP at 500 connections, and TCP
#     link tests at 50 connections while a UDP flood of unrecognised datagrams runs flat out from
#     the load's core, against the same without the flood;
#   - link tests at 50 connections with the object table full (10,000 objects, the messages from
#     the accounts at its end) against the same program with the table empty;
# and once at the end, 5,000 communicators (each its own account) sending one link test a second
# for HOLD_SECONDS (default 15): CPU (% of one core) and VmRSS of quenor, and of the reference.
# Last the aims, each with its figure and whether it is met:
#   - full table / empty table at 50 connections: at least 0.90;
#   - quenor / reference --write-ahead (fdatasync) at 50 and at 500 connections: at least 0.95;
#   - 5,000 communicators at one link test a second: at most 10% of one core.
# The reference answers with one fixed frame whatever the sequence number, so the dialler counts
# its answers as invalid; only their number and time are used.
#
# Usage: bash bench/compare_receivers.sh [--quenor PATH]
#   --quenor PATH   the receiver program to measure (default build-release/quenor, built here)
# Environment: PORT (17777), ROUNDS (2), HOLD_SECONDS (15), PARTS ("all"; "udp" for the UDP
# rows alone; "aims" for the runs the aims need alone). Progress goes to standard error, the
# table (markdown) to standard output; the raw figures stay in build-release/compare.jsonl.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=build-release
QUENOR="$PWD/$BUILD_DIR/quenor"
BUILD_QUENOR=1
while (($#)); do
  case "$1" in
    --quenor)
      [[ $# -ge 2 ]] || { echo "--quenor needs a path" >&2; exit 2; }
      QUENOR="$(realpath "$2")"
      BUILD_QUENOR=0
      shift 2
      ;;
    *)
      sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
      exit 2
      ;;
  esac
done

PORT="${PORT:-17777}"
OUT_PORT="${OUT_PORT:-17999}"
ROUNDS="${ROUNDS:-2}"
HOLD_SECONDS="${HOLD_SECONDS:-15}"
PARTS="${PARTS:-all}"
HOLD_CONNECTIONS=5000
TABLE_OBJECTS=10000  # the object table's size
KEY=603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4
DIALLER="$PWD/$BUILD_DIR/dc09-dialler"
REFERENCE="$PWD/$BUILD_DIR/reference-server"
LOADS=("1 20000" "50 4000" "500 400" "5000 40")

SAY_TAG=compare
source bench/load_common.sh

targets=(dc09-dialler reference-server)
((BUILD_QUENOR)) && targets+=(quenor)
say "building ${targets[*]} (Release) in $BUILD_DIR/"
cmake --preset release >/dev/null
cmake --build "$BUILD_DIR" -j2 --target "${targets[@]}" >/dev/null
[[ -x "$QUENOR" ]] || { say "no program at $QUENOR"; exit 1; }

raise_file_limit $((HOLD_CONNECTIONS + 100))

# The server on the first core, the load on the second.
if (($(nproc) >= 2)); then
  QUENOR_PREFIX=(taskset -c 0)
  DIALLER_PREFIX=(taskset -c 1)
else
  say "one core only: server and load are not pinned apart"
fi

ROOT="$(mktemp -d /tmp/quenor-compare-XXXXXX)"
RESULTS="$ROOT/results.jsonl"
REFERENCE_PID=""
FLOOD_PID=""

# Unrecognised datagrams to the receiver port as fast as one process sends them.
start_flood() {
  "${DIALLER_PREFIX[@]}" python3 -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
junk, to = b"junk " * 12, ("127.0.0.1", int(sys.argv[1]))
while True:
    try:
        s.sendto(junk, to)
    except OSError:
        pass
' "$PORT" &
  FLOOD_PID=$!
}
stop_flood() {
  if [[ -n "$FLOOD_PID" ]]; then
    kill "$FLOOD_PID" 2>/dev/null || true
    wait "$FLOOD_PID" 2>/dev/null || true
    FLOOD_PID=""
  fi
}

stop_reference() {
  if [[ -n "$REFERENCE_PID" ]]; then
    kill -TERM "$REFERENCE_PID" 2>/dev/null || true
    wait "$REFERENCE_PID" 2>/dev/null || true
    REFERENCE_PID=""
  fi
}
clean_up() {
  if [[ -n "$DIALLER_PID" ]]; then kill "$DIALLER_PID" 2>/dev/null || true; fi
  stop_flood
  stop_quenor
  stop_reference
  rm -rf "$ROOT"
}
trap clean_up EXIT
trap 'exit 130' INT TERM

# start_reference [--write-ahead [--mapped]]: returns when its port listens.
start_reference() {
  rm -f "$ROOT/reference_journal.dat"
  "${QUENOR_PREFIX[@]}" "$REFERENCE" --port "$PORT" --journal "$ROOT/reference_journal.dat" \
    "$@" 2>"$ROOT/reference.stderr" &
  REFERENCE_PID=$!
  for _ in $(seq 100); do
    if [[ -n "$(ss -Hltn "( sport = :$PORT )")" ]]; then return 0; fi
    if ! kill -0 "$REFERENCE_PID" 2>/dev/null; then break; fi
    sleep 0.05
  done
  say "the reference server did not open port $PORT:"
  cat "$ROOT/reference.stderr" >&2 || true
  exit 1
}

# measure SERVER ROUND CONNECTIONS MESSAGES [dialler options]: one flat-out run, recorded.
measure() {
  local server=$1 round=$2 connections=$3 messages=$4
  shift 4
  say "round $round, $server: $connections x $messages"
  local json
  json=$("${DIALLER_PREFIX[@]}" "$DIALLER" --port "$PORT" --json --token NULL \
    --distinct-accounts --connections "$connections" --messages "$messages" "$@" || true)
  echo "{\"server\": \"$server\", \"round\": $round, \"result\": $json}" >>"$RESULTS"
}

warm_up() {
  "${DIALLER_PREFIX[@]}" "$DIALLER" --port "$PORT" --json --token NULL --connections 10 \
    --messages 200 "$@" >/dev/null || true
}

for ((round = 1; round <= ROUNDS; round++)); do
  if [[ $PARTS != aims ]]; then
    UDP_ENABLE=1 start_quenor 0 0
    warm_up
    measure quenor-udp-on-tcp "$round" 500 400
    measure quenor-udp "$round" 500 400 --udp
    measure quenor-udp-on-tcp "$round" 50 4000
    start_flood
    measure quenor-udp-flood "$round" 50 4000
    stop_flood
    stop_quenor
  fi
  [[ $PARTS == udp ]] && continue

  # The object table empty, then full: one program, the same 50 connections' worth of messages.
  start_quenor 0 0
  warm_up  # account 1234, the first of the table
  measure quenor-table-empty "$round" 50 4000
  say "round $round: filling the object table to $TABLE_OBJECTS objects"
  for ((first = 50; first < TABLE_OBJECTS; first += 1000)); do
    count=$((TABLE_OBJECTS - first < 1000 ? TABLE_OBJECTS - first : 1000))
    "${DIALLER_PREFIX[@]}" "$DIALLER" --port "$PORT" --json --token NULL --distinct-accounts \
      --account "$(printf '%04X' $((0x1234 + first)))" --connections "$count" --messages 1 \
      >/dev/null || true
  done
  measure quenor-table-full "$round" 50 4000 \
    --account "$(printf '%04X' $((0x1234 + TABLE_OBJECTS - 50)))"
  stop_quenor

  if [[ $PARTS == aims ]]; then
    start_quenor 0 0
    warm_up
    measure quenor "$round" 50 4000
    measure quenor "$round" 500 400
    stop_quenor
    start_reference --write-ahead
    warm_up
    measure reference-fdatasync "$round" 50 4000
    measure reference-fdatasync "$round" 500 400
    stop_reference
    continue
  fi

  start_quenor 0 0
  warm_up
  for load in "${LOADS[@]}"; do measure quenor "$round" $load; done
  stop_quenor

  start_reference
  warm_up
  for load in "${LOADS[@]}"; do measure reference "$round" $load; done
  stop_reference

  start_quenor 3 0
  warm_up --key "$KEY"
  measure quenor-aes256 "$round" 50 4000 --key "$KEY"
  stop_quenor

  QUENOR_ENV=(QUENOR_BENCH_NO_WRITE_AHEAD=1)
  start_quenor 0 0
  QUENOR_ENV=()
  warm_up
  measure quenor-no-write-ahead "$round" 50 4000
  stop_quenor

  for variant in fdatasync msync; do
    options=(--write-ahead)
    [[ $variant == msync ]] && options+=(--mapped)
    start_reference "${options[@]}"
    warm_up
    measure "reference-$variant" "$round" 50 4000
    measure "reference-$variant" "$round" 500 400
    stop_reference
  done
done

if [[ $PARTS != udp ]]; then
say "$HOLD_CONNECTIONS communicators, one link test a second each, ${HOLD_SECONDS} s measured"
start_quenor 0 0
hold_load "$QUENOR_PID" "$HOLD_CONNECTIONS" "$HOLD_SECONDS"
echo "{\"server\": \"quenor\", \"hold\": {$HOLD_JSON}}" >>"$RESULTS"
stop_quenor
fi
if [[ $PARTS == all ]]; then
start_reference
hold_load "$REFERENCE_PID" "$HOLD_CONNECTIONS" "$HOLD_SECONDS"
echo "{\"server\": \"reference\", \"hold\": {$HOLD_JSON}}" >>"$RESULTS"
stop_reference
fi

cp "$RESULTS" "$BUILD_DIR/compare.jsonl"

python3 - "$RESULTS" "$QUENOR" <<'EOF'
import json, statistics, sys
rows = [json.loads(line) for line in open(sys.argv[1]) if line.strip()]
runs = {}   # (server, connections, messages) -> [result of each round]
holds = {}
for row in rows:
    if "hold" in row:
        holds[row["server"]] = row["hold"]
        continue
    r = row["result"]
    runs.setdefault((row["server"], r["connections"], r["messages_per_connection"]), []).append(r)

def rate(server, c, m):
    return statistics.mean(r["answered_per_s"] for r in runs[(server, c, m)])
def p99(server, c, m):
    return statistics.mean(r["latency_ms"]["p99"] for r in runs[(server, c, m)])
def k(x):
    return f"{x / 1000:.1f}k"
def each(server, c, m):
    return ", ".join(k(r["answered_per_s"]) for r in runs[(server, c, m)])
def ms(x):
    return f"{x * 1000:.0f} us" if x < 1 else f"{x:.1f} ms"
def unanswered(server, c, m):
    missing = sum(r["sent"] - r["answered"] + r["not_sent"] for r in runs[(server, c, m)])
    return f" ({missing} unanswered)" if missing else ""

print(f"Program: {sys.argv[2]}; figures: the mean of the rounds (each round in brackets).")
print()
def pair(title, a, b, c, m):
    x, y = rate(a, c, m), rate(b, c, m)
    print(f"| {title} | {k(x)} [{each(a, c, m)}] against {k(y)} [{each(b, c, m)}] msgs/s"
          f"{unanswered(a, c, m)} | {x / y:.2f} |")
if ("quenor-udp", 500, 400) in runs:
    print("| UDP on | figures | ratio |")
    print("|---|---|---|")
    pair("link tests over UDP / over TCP, 500 senders", "quenor-udp", "quenor-udp-on-tcp", 500, 400)
    pair("TCP link tests under a UDP junk flood / without, 50 connections",
         "quenor-udp-flood", "quenor-udp-on-tcp", 50, 4000)
def aims():
    print()
    print("| aim | figure | met |")
    print("|---|---|---|")
    def line(title, figure, met, miss):
        print(f"| {title} | {figure} | {'yes' if met else 'no, ' + miss} |")
    if ("quenor-table-full", 50, 4000) in runs:
        x = rate("quenor-table-full", 50, 4000) / rate("quenor-table-empty", 50, 4000)
        each_ratio = ", ".join(f"{f['answered_per_s'] / e['answered_per_s']:.2f}" for f, e in
                               zip(runs[("quenor-table-full", 50, 4000)],
                                   runs[("quenor-table-empty", 50, 4000)]))
        line("full object table / empty, 50 connections: >= 0.90", f"{x:.2f} [{each_ratio}]",
             x >= 0.90, f"short by {0.90 - x:.2f}")
    for c, m in [(50, 4000), (500, 400)]:
        if ("quenor", c, m) in runs and ("reference-fdatasync", c, m) in runs:
            x = rate("quenor", c, m) / rate("reference-fdatasync", c, m)
            each_ratio = ", ".join(f"{q['answered_per_s'] / r['answered_per_s']:.2f}" for q, r in
                                   zip(runs[("quenor", c, m)],
                                       runs[("reference-fdatasync", c, m)]))
            line(f"quenor / reference --write-ahead, {c} connections: >= 0.95",
                 f"{x:.2f} [{each_ratio}]", x >= 0.95, f"short by {0.95 - x:.2f}")
    if "quenor" in holds:
        h = holds["quenor"]
        cpu = 100.0 * h["ticks"] / h["hz"] / h["seconds"]
        line("5,000 communicators, 1 link test/s each: <= 10% of one core", f"{cpu:.1f}%",
             cpu <= 10.0, f"over by {cpu - 10.0:.1f} points")

if ("quenor", 1, 20000) not in runs:
    if ("quenor", 50, 4000) in runs or holds:
        aims()
    sys.exit(0)
print()
print("| connections x link tests | quenor | reference | ratio | p99 quenor / reference |")
print("|---|---|---|---|---|")
for c, m in [(1, 20000), (50, 4000), (500, 400), (5000, 40)]:
    q, ref = rate("quenor", c, m), rate("reference", c, m)
    print(f"| {c} x {m} | {k(q)} msgs/s [{each('quenor', c, m)}]{unanswered('quenor', c, m)} "
          f"| {k(ref)} [{each('reference', c, m)}] | {q / ref:.2f} "
          f"| {ms(p99('quenor', c, m))} / {ms(p99('reference', c, m))} |")
print()
print("| comparison | figures | ratio |")
print("|---|---|---|")
pair("quenor AES-256 / plain, 50 connections", "quenor-aes256", "quenor", 50, 4000)
pair("quenor write-ahead on / off, 50 connections", "quenor", "quenor-no-write-ahead", 50, 4000)
for c, m in [(50, 4000), (500, 400)]:
    for variant in ["fdatasync", "msync"]:
        pair(f"reference with write-ahead ({variant}) / without, {c} connections",
             f"reference-{variant}", "reference", c, m)
for server, h in holds.items():
    cpu = 100.0 * h["ticks"] / h["hz"] / h["seconds"]
    r = h["result"]
    missing = r["sent"] - r["answered"] + r["not_sent"]
    note = f", {missing} unanswered" if missing else ""
    print(f"| 5,000 communicators, 1 link test/s each: {server} | {cpu:.1f}% of one core, "
          f"VmRSS {h['rss_kib'] / 1024:.1f} MiB ({h['established']} connections"
          f"{note}) | |")
aims()
EOF

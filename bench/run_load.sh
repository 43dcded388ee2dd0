#!/usr/bin/env bash
# The load figures of the README, measured on this machine against the real program: builds
# Release (build-release/), starts `quenor` headless (QT_QPA_PLATFORM=offscreen) in its own
# temporary XDG_DATA_HOME and XDG_RUNTIME_DIR, configured only by a written dorvex.cfg, and drives
# it with the project's tools:
#   - dc09-dialler: answered DC-09 messages per second and answer latency at 1, 50 and 500
#     connections, plain and AES-256. The runs send link tests ("NULL"): they take the whole
#     receive path (parse, decrypt, answer, object update with its file write, journal append)
#     and, not being reportable, never fill the 4096-slot journal (the receiver refuses to answer
#     Contact ID events while the journal holds 4096 unreported ones, by design);
#   - automation-sim: forwarded lines per second. 4,000 Contact ID events are received while the
#     automation link (quenor as TCP server) has no client; then automation-sim connects, answers
#     ACK at once, and its lines per second are timed from the first line to the last (three
#     rounds, the median; a last automation-sim checks that no line is offered twice);
#   - report-latency (bench/report_latency/): time from a message's arrival to its report line at
#     the automation software, at 200 and at 2,000 events per second, the automation software
#     answering ACK at once; and 2,000 events per second again with the window thread held busy
#     for 2 s in the middle of the run (the test hook QUENOR_TEST_HOLD_WINDOW);
#   - dc09-dialler again: 5,000 communicators (each its own account) connected at once, each
#     sending one link test a second, 30 s measured: CPU of quenor (utime+stime from
#     /proc/<pid>/stat over the interval, in % of one core) and its VmRSS;
#   - the VmRSS of quenor 2 s after its receiver port opened.
# The heartbeat period is 0 throughout (the link counts as alive as soon as it is open).
# At the end a markdown table (metric, figure, aim) is printed on standard output; progress goes
# to standard error.
#
# Usage: bash bench/run_load.sh        (environment: PORT, OUT_PORT; default 17777, 17999;
#        PARTS, the parts to run, default "memory answers forward latency hold")
set -euo pipefail
cd "$(dirname "$0")/.."

PORT="${PORT:-17777}"
OUT_PORT="${OUT_PORT:-17999}"
PARTS=" ${PARTS:-memory answers forward latency hold} "
part() { [[ "$PARTS" == *" $1 "* ]]; }
BUILD_DIR=build-release
QUENOR="$PWD/$BUILD_DIR/quenor"
DIALLER="$BUILD_DIR/dc09-dialler"
KEY=603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4
HOLD_CONNECTIONS=5000
HOLD_SECONDS=30

SAY_TAG=run_load
source bench/load_common.sh

say "building Release in $BUILD_DIR/"
cmake --preset release >/dev/null
cmake --build "$BUILD_DIR" -j2 --target quenor dc09-dialler automation-sim report-latency >/dev/null

# 5,000 connections on each side of the loopback: the dialler and quenor inherit this limit (both
# also raise their soft limit to the hard one themselves).
raise_file_limit $((HOLD_CONNECTIONS + 100))

ROOT="$(mktemp -d /tmp/quenor-load-XXXXXX)"
RESULTS="$ROOT/results.jsonl"

clean_up() {
  if [[ -n "$DIALLER_PID" ]]; then kill "$DIALLER_PID" 2>/dev/null || true; fi
  stop_quenor
  rm -rf "$ROOT"
}
trap clean_up EXIT
trap 'exit 130' INT TERM

record() { echo "$1" >>"$RESULTS"; }

dialler() {
  "$DIALLER" --port "$PORT" --json "$@" || true
}

# 5. Memory after start.
if part memory; then
  say "memory after start"
  start_quenor 0 1
  sleep 2
  record "{\"name\": \"rss_start\", \"kib\": $(rss_kib)}"
  stop_quenor
fi

# 1. Answered messages per second, link tests, plain and AES-256 (one fresh program per cipher).
part answers && for aes in 0 3; do
  key=()
  [[ $aes == 3 ]] && key=(--key "$KEY")
  start_quenor "$aes" 0
  dialler --token NULL --connections 10 --messages 200 "${key[@]}" >/dev/null  # warm-up
  for load in "1 50000" "50 4000" "500 400"; do
    read -r connections messages <<<"$load"
    say "answers: $connections connections x $messages link tests, AES mode $aes"
    json=$(dialler --token NULL --distinct-accounts --connections "$connections" \
      --messages "$messages" "${key[@]}")
    record "{\"name\": \"answers\", \"aes\": $aes, \"result\": $json}"
  done
  stop_quenor
done

# 2. Forwarded lines per second: 4,000 events wait in the journal (it holds 4096), then the
# automation software connects and takes them; three rounds on one program.
if part forward; then
start_quenor 0 1
for round in 1 2 3; do
  say "forwarding, round $round: 4000 Contact ID events, then automation-sim connects"
  prefill=$(dialler --token ADM-CID --distinct-accounts --connections 50 --messages 80)
  stats=$("$BUILD_DIR/automation-sim" --tcp-client "127.0.0.1:$OUT_PORT" --count 4000 \
    --seconds 60 --quiet --stats | tail -1)
  record "{\"name\": \"forward\", \"prefill\": $prefill, \"total\": \"$stats\"}"
done
# A line offered again after its ACK would come now.
extra=$("$BUILD_DIR/automation-sim" --tcp-client "127.0.0.1:$OUT_PORT" --seconds 3 --quiet \
  --stats | tail -1)
record "{\"name\": \"forward_after\", \"total\": \"$extra\"}"
stop_quenor
fi

# 3. Arrival to report line, automation software answering at once: a moderate rate, then a
# higher one (each message its own account, so at most 10000 of them: the object table's size).
# The third run holds the window thread busy for 2 s from 1 s into the run.
part latency && for load in "200 3000" "2000 8000" "2000 8000 held"; do
  read -r rate messages held <<<"$load"
  say "arrival to report: $messages events at $rate/s${held:+, window thread held 2 s}"
  hold_file="$ROOT/hold-window"
  rm -f "$hold_file" "$hold_file.held" "$hold_file.released"
  [[ -n "$held" ]] && QUENOR_ENV=(QUENOR_TEST_HOLD_WINDOW="$hold_file")
  start_quenor 0 1
  QUENOR_ENV=()
  holder=""
  if [[ -n "$held" ]]; then
    (sleep 1 && touch "$hold_file") &
    holder=$!
  fi
  latency=$("$BUILD_DIR/report-latency" --port "$PORT" --automation-port "$OUT_PORT" \
    --rate "$rate" --messages "$messages" || true)
  if [[ -n "$holder" ]]; then wait "$holder"; fi
  # The hold counts only when the program took it and let go before the run's end.
  window_held=false
  [[ -n "$held" && -e "$hold_file.held" && -e "$hold_file.released" ]] && window_held=true
  record "{\"name\": \"latency\", \"held\": $window_held, \"result\": $latency}"
  stop_quenor
done

# 4. 5,000 communicators connected, one link test a second each.
if part hold; then
  say "$HOLD_CONNECTIONS connections, one link test a second each, ${HOLD_SECONDS} s measured"
  start_quenor 0 0
  hold_load "$QUENOR_PID" "$HOLD_CONNECTIONS" "$HOLD_SECONDS"
  record "{\"name\": \"hold\", $HOLD_JSON}"
  stop_quenor
fi

# The raw figures stay beside the build for a closer look.
cp "$RESULTS" "$BUILD_DIR/run_load.jsonl"

# The table.
python3 - "$RESULTS" "$HOLD_CONNECTIONS" <<'EOF'
import json, re, statistics, sys
rows = [json.loads(line) for line in open(sys.argv[1]) if line.strip()]
hold_connections = int(sys.argv[2])
table = []
forward = []
def mib(kib): return f"{kib / 1024:.1f} MiB"
def answers(r):
    note = ""
    lost = r["sent"] - r["ack"]
    if lost or r["connect_failures"]:
        note = f"; {lost} not ACKed, {r['connect_failures']} connect failures"
    return (f"{r['answered_per_s']:,.0f}/s (p50 {r['latency_ms']['p50']:.2f} ms, "
            f"p99 {r['latency_ms']['p99']:.2f} ms{note})")
for row in rows:
    name = row["name"]
    if name == "answers":
        r = row["result"]
        cipher = "AES-256" if row["aes"] else "plain"
        c = r["connections"]
        aim = "≥ 20,000/s" if c == 50 else ""
        table.append((f"Answered DC-09 messages, {c} connection{'s' if c > 1 else ''}, {cipher}",
                      answers(r), aim))
    elif name == "forward":
        m = re.search(r"total: (\d+) lines, ([\d.]+) lines/s", row["total"])
        forward.append((int(m.group(1)), float(m.group(2))) if m else (0, 0.0))
    elif name == "forward_after":
        m = re.search(r"total: (\d+) lines", row["total"])
        extra = int(m.group(1)) if m else -1
        lines = sum(n for n, _ in forward)
        figure = (f"{statistics.median(r for _, r in forward):,.0f} lines/s (median of "
                  f"{len(forward)} rounds of 4,000 events; {lines:,} lines, "
                  f"{extra} offered again)")
        table.append(("Forwarded lines to automation-sim (answers at once)", figure, "≥ 20,000/s"))
    elif name == "latency":
        r = row["result"]
        l = r["report_ms"]
        figure = f"p50 {l['p50']:.1f} ms, p99 {l['p99']:.1f} ms (max {l['max']:.1f} ms)"
        if r["reported"] != r["messages"] or r["duplicates"] or r["unknown_lines"]:
            figure += (f"; {r['reported']} of {r['messages']} reported, {r['duplicates']} twice,"
                       f" {r['unknown_lines']} unknown lines")
        held = ", window thread held 2 s" if row.get("held") else ""
        aim = "p99 ≤ 2 ms" if r["rate"] >= 2000 else "p99 < 100 ms"
        table.append((f"Arrival to report line, {r['rate']:,.0f} events/s for "
                      f"{r['messages'] / r['rate']:.0f} s{held}", figure, aim))
    elif name == "hold":
        r = row["result"]
        cpu = 100.0 * row["ticks"] / row["hz"] / row["seconds"]
        lost = r["sent"] - r["ack"]
        note = f"{row['established']} connections established"
        if lost or r["connect_failures"]:
            note += f"; {lost} not ACKed, {r['connect_failures']} connect failures"
        table.append((f"{hold_connections:,} connections, 1 link test/s each: CPU of quenor",
                      f"{cpu:.1f}% of one core ({note}; {r['answered_per_s']:,.0f} answers/s)",
                      "< 50% of one core"))
        table.append((f"{hold_connections:,} connections: memory of quenor (VmRSS)",
                      mib(row["rss_kib"]), ""))
    elif name == "rss_start":
        table.append(("Memory of quenor after start (VmRSS)", mib(row["kib"]), ""))
print("| Metric | Figure | Aim |")
print("|---|---|---|")
for metric, figure, aim in table:
    print(f"| {metric} | {figure} | {aim} |")
EOF

# Shell pieces shared by the load scripts (bench/run_load.sh, bench/compare_receivers.sh): sourced,
# not run. The caller sets, before using them:
#   PORT, OUT_PORT   receiver port and automation port of the program under test
#   KEY              the AES key written into the settings (64 hex digits)
#   QUENOR           the program to start
#   DIALLER          the project's dc09-dialler
#   ROOT             a temporary folder of its own, removed by the caller
#   SAY_TAG          the tag of progress lines on standard error
# and may set QUENOR_PREFIX and DIALLER_PREFIX (arrays: a command such as taskset that runs the
# program or the dialler) and QUENOR_ENV (an array of NAME=VALUE given to the program's
# environment). A dialler left running in the background has its process id in DIALLER_PID.

QUENOR_PID=""
DIALLER_PID=""
QUENOR_PREFIX=()
DIALLER_PREFIX=()
QUENOR_ENV=()

say() { echo "[$SAY_TAG] $*" >&2; }

# The soft limit of open files up to the hard one; fails when that is below $1.
raise_file_limit() {
  ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
  if (($(ulimit -n) < $1)); then
    say "open-file limit $(ulimit -n) is below $1; raise the hard limit"
    exit 1
  fi
}

# Writes the 256-byte settings record, the program's defaults except: receiver port open on $PORT
# with AES mode $2 (0 plain, 3 AES-256) and connection timeout 30 s; automation link TCP server on
# $OUT_PORT when $3 is 1, closed when 0; heartbeat period 0; format "SG MLR2-DG"; DC-09 over UDP
# on the receiver port too when UDP_ENABLE is 1 (default 0).
write_settings() {
  python3 - "$1" "$2" "$3" "$PORT" "$OUT_PORT" "$KEY" "${UDP_ENABLE:-0}" <<'EOF'
import struct, sys
path, aes, link, port, out_port, key = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), \
    int(sys.argv[4]), int(sys.argv[5]), bytes.fromhex(sys.argv[6])
udp = int(sys.argv[7])
r = bytearray(256)
struct.pack_into('<Biib', r, 0, 1, port, 30, aes)            # DC9 enable, port, timeout, AES
r[16:48] = key
struct.pack_into('<BBib', r, 48, link, 1, out_port, 1)       # Out_Mode, server, port, HB receiver
r[64:64 + 9] = b'127.0.0.1'
struct.pack_into('<iibBi', r, 86, 9600, 0, 0, 0, 1602)       # baud, HB 0, format, synch, stamp
r[113] = udp                                                  # DC9_UDP_Enable
open(path, 'wb').write(r)
EOF
}

# start_quenor AES LINK: a fresh data folder, the settings, the program (headless, in its own
# XDG_DATA_HOME and XDG_RUNTIME_DIR); returns when its receiver port is open.
start_quenor() {
  local run="$ROOT/run.$RANDOM"
  mkdir -p "$run/data" "$run/runtime"
  chmod 700 "$run/runtime"
  FOLDER="$run/data/ORN RAD-EZ Ududerud"
  mkdir -m 700 "$FOLDER"
  write_settings "$FOLDER/dorvex.cfg" "$1" "$2"
  (cd "$run" && exec env -u DISPLAY -u WAYLAND_DISPLAY XDG_DATA_HOME="$run/data" \
    XDG_RUNTIME_DIR="$run/runtime" QT_QPA_PLATFORM=offscreen "${QUENOR_ENV[@]}" \
    "${QUENOR_PREFIX[@]}" "$QUENOR" </dev/null >/dev/null 2>"$run/stderr") &
  QUENOR_PID=$!
  for _ in $(seq 150); do
    if grep -qs "Port $PORT is open." "$FOLDER"/dorvex_*.log; then return 0; fi
    if ! kill -0 "$QUENOR_PID" 2>/dev/null; then break; fi
    sleep 0.1
  done
  say "quenor did not open port $PORT; its standard error:"
  cat "$run/stderr" >&2 || true
  exit 1
}

stop_quenor() {
  if [[ -n "$QUENOR_PID" ]]; then
    kill -TERM "$QUENOR_PID" 2>/dev/null || true
    wait "$QUENOR_PID" 2>/dev/null || true
    QUENOR_PID=""
  fi
}

# VmRSS in KiB and utime + stime in clock ticks (fields 14 and 15, counted after the command
# name) of process $1, by default the program under test.
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/${1:-$QUENOR_PID}/status"; }
cpu_ticks() { sed 's/^.*) //' "/proc/${1:-$QUENOR_PID}/stat" | awk '{print $12 + $13}'; }

# hold_load PID CONNECTIONS SECONDS: CONNECTIONS communicators (each its own account) connected
# at once, each sending one link test a second, to the server on $PORT whose process is PID.
# Sets HOLD_JSON to the JSON members "ticks", "hz", "seconds", "rss_kib", "established" and
# "result" (the dialler's totals): CPU ticks of PID over SECONDS measured once every connection is up and
# sending, its VmRSS at the end, and the connections established halfway.
hold_load() {
  local pid=$1 connections=$2 hold_seconds=$3 out="$ROOT/hold.$RANDOM.json"
  "${DIALLER_PREFIX[@]}" "$DIALLER" --port "$PORT" --token NULL --distinct-accounts \
    --connections "$connections" --messages $((hold_seconds + 3)) --period 1000 \
    --timeout 10000 --json >"$out" &
  DIALLER_PID=$!
  sleep 2  # the first period: the connections are made and start sending
  local ticks_before time_before established=0 s
  ticks_before=$(cpu_ticks "$pid")
  time_before=$(date +%s.%N)
  for ((s = 0; s < hold_seconds; s++)); do
    sleep 1
    if ((s == hold_seconds / 2)); then
      established=$(ss -Htn state established "( sport = :$PORT )" | wc -l)
    fi
  done
  local ticks_after time_after rss
  ticks_after=$(cpu_ticks "$pid")
  time_after=$(date +%s.%N)
  rss=$(rss_kib "$pid")
  wait "$DIALLER_PID" || true
  DIALLER_PID=""
  HOLD_JSON="\"ticks\": $((ticks_after - ticks_before)), \"hz\": $(getconf CLK_TCK), \
\"seconds\": $(awk "BEGIN {print $time_after - $time_before}"), \"rss_kib\": $rss, \
\"established\": $established, \"result\": $(cat "$out")"
}

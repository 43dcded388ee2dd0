#!/usr/bin/env bash
# The Debian package as an administrator meets it: built with cpack from a build folder whose
# programs are already built, installed with apt-get, the installed program used on a service
# folder (settings as root, a headless receiver as the user quenor, status in its three forms),
# then purged: the program, the data folders (they hold the AES keys) and the user must be gone.
# It changes the machine (a package, a system user, /var/lib/quenor), so it runs only as root,
# only when neither the package nor the user nor the folder is there already, and not when
# QUENOR_SKIP_PACKAGE_TEST=1; otherwise it says why it skips and exits 0.
# Usage: package_install_test.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"

skip() {
  echo "SKIP package install test: $*"
  exit 0
}
[ "${QUENOR_SKIP_PACKAGE_TEST:-0}" = 1 ] && skip "QUENOR_SKIP_PACKAGE_TEST=1"
[ "$(id -u)" -eq 0 ] || skip "needs root (it installs and purges the package)"
dpkg-query -W -f='${Status}' quenor 2>/dev/null | grep -q 'installed\|config-files' &&
  skip "the package quenor is on this machine; the test would purge it"
getent passwd quenor >/dev/null && skip "the user quenor exists; the test would delete it"
[ -e /var/lib/quenor ] && skip "/var/lib/quenor exists; the purge would delete it"

failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
receiver_pid=""
installed=0
cleanup() {
  if [ -n "$receiver_pid" ] && kill -0 "$receiver_pid" 2>/dev/null; then
    kill -KILL "$receiver_pid" 2>/dev/null || true
  fi
  # Whatever failed, the machine is left as it was found.
  if [ "$installed" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q quenor >/dev/null 2>&1 || true
  fi
}
trap cleanup EXIT

wait_for() {  # wait_for SECONDS COMMAND...: true once the command succeeds within the deadline
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

echo "== package: cpack -G DEB in $build"
started=$SECONDS
rm -f "$build"/quenor_*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || {
  cat "$build/cpack.log"
  exit 1
}
deb="$(ls "$build"/quenor_*.deb)"
echo "built $(basename "$deb") in $((SECONDS - started)) s"

echo "== install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" >"$build/apt-install.log" 2>&1 || {
  cat "$build/apt-install.log"
  exit 1
}
installed=1
for file in /usr/bin/quenor /usr/bin/dc09-dialler /usr/bin/automation-sim \
  /usr/lib/systemd/system/quenor@.service /usr/share/man/man1/quenor.1.gz; do
  [ -e "$file" ] || fail "not installed: $file"
done
getent passwd quenor >/dev/null || fail "no user quenor after the install"
id -nG quenor 2>/dev/null | grep -qw dialout || fail "the user quenor is not in dialout"

# The folder as the unit's StateDirectory= makes it.
folder=/var/lib/quenor/main
install -d -o quenor -g quenor -m 0700 "$folder"
port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"

echo "== quenor settings (root, on the service folder)"
# The AES key comes on standard input, never on the command line.
key=603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4
echo "$key" | /usr/bin/quenor settings --data-dir "$folder" DC9_Port_Enable=1 "DC9_Port=$port" \
  HB_Receiver_Nr=7 DC9_AES_Mode=3 DC9_AES_Key=- || fail "quenor settings exited $?"
owner="$(stat -c '%U %a' "$folder/dorvex.cfg" 2>/dev/null || true)"
[ "$owner" = "quenor 600" ] || fail "dorvex.cfg is '$owner', not 'quenor 600'"
/usr/bin/quenor settings --data-dir "$folder" | grep -qx "DC9_Port=$port" ||
  fail "the saved port is not read back"

echo "== quenor status, no receiver"
code=0
json="$(/usr/bin/quenor status --json --data-dir "$folder")" || code=$?
echo "$json"
[ "$code" -eq 3 ] || fail "status --json without a receiver exited $code, not 3"
python3 -c 'import json,sys; json.loads(sys.argv[1])' "$json" || fail "status --json is not one JSON object"

echo "== installed receiver, headless, as the user quenor"
# setpriv runs the program in its own place (no process in between), so $! is the receiver.
setpriv --reuid=quenor --regid=quenor --init-groups env QT_QPA_PLATFORM=offscreen \
  /usr/bin/quenor --headless --data-dir "$folder" >"$build/package-receiver.log" 2>&1 &
receiver_pid=$!
port_open() {
  /usr/bin/quenor status --prometheus --data-dir "$folder" 2>/dev/null |
    grep -q '^quenor_receiver_port_open{.*} 1$'
}
wait_for 60 port_open || fail "the installed receiver never opened its port"
# One encrypted alarm from the installed dialler: answered, stored and counted.
/usr/bin/dc09-dialler --port "$port" --key "$key" || fail "the installed dialler's alarm was not acknowledged"
stored() {
  /usr/bin/quenor status --prometheus --data-dir "$folder" 2>/dev/null |
    grep -q '^quenor_events_stored_total{.*} 1$'
}
wait_for 30 stored || fail "the alarm is not counted as stored"
/usr/bin/quenor status --data-dir "$folder" || fail "status exited $?"
code=0
json="$(/usr/bin/quenor status --json --data-dir "$folder")" || code=$?
echo "$json"
[ "$code" -eq 0 ] || fail "status --json exited $code"
python3 - "$json" "$port" <<'EOF' || fail "status --json does not show the running receiver"
import json, sys
status = json.loads(sys.argv[1])
text = json.dumps(status)
assert "error" not in status, status
assert sys.argv[2] in text, "port missing"
EOF
code=0
prometheus="$(/usr/bin/quenor status --prometheus --data-dir "$folder")" || code=$?
echo "$prometheus" | grep -v '^#' | head -n 12
[ "$code" -eq 0 ] || fail "status --prometheus exited $code"
echo "$prometheus" | grep -q '^quenor_up{.*} 1$' || fail "no quenor_up 1 in --prometheus"
echo "$prometheus" | grep -q '^quenor_receiver_port_open{.*} 1$' ||
  fail "no quenor_receiver_port_open 1 in --prometheus"
kill -TERM "$receiver_pid"
wait "$receiver_pid" || fail "the receiver's orderly end exited $?"
receiver_pid=""

echo "== purge"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -q quenor >"$build/apt-purge.log" 2>&1 || {
  cat "$build/apt-purge.log"
  fail "apt-get purge failed"
}
installed=0
[ -e /usr/bin/quenor ] && fail "/usr/bin/quenor is still there"
[ -e /var/lib/quenor ] && fail "/var/lib/quenor (with the keys) is still there"
getent passwd quenor >/dev/null && fail "the user quenor is still there"
getent group quenor >/dev/null && fail "the group quenor is still there"

[ "$failed" -eq 0 ] && echo "package install test passed in $((SECONDS - started)) s"
exit "$failed"

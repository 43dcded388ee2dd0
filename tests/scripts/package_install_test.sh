#!/usr/bin/env bash
# The Debian package as an administrator meets it: built with cpack from an existing build
# folder, installed with apt-get, the INSTALLED program used on a service folder (settings,
# a headless receiver run as the user quenor, status --json and --prometheus), then purged:
# the folder /var/lib/quenor (it holds the AES keys) and the user quenor must be gone.
# It changes the machine, so it runs only as root, only where the package is not installed
# already, and not when QUENOR_SKIP_PACKAGE_TEST=1; otherwise it says why it skips and passes.
# Usage: package_install_test.sh BUILD_DIR (configured and built; cpack packs what it built)
set -euo pipefail
build="$(cd "$1" && pwd)"
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: the package install test needs root (it installs and purges the package)"
  exit 0
fi
if [ "${QUENOR_SKIP_PACKAGE_TEST:-0}" = "1" ]; then
  echo "SKIP: QUENOR_SKIP_PACKAGE_TEST=1"
  exit 0
fi
if dpkg-query -W -f='${Status}' quenor 2>/dev/null | grep -q installed; then
  echo "SKIP: the package quenor is installed on this machine already; not touching it"
  exit 0
fi
if getent passwd quenor >/dev/null || [ -e /var/lib/quenor ]; then
  echo "SKIP: a user quenor or /var/lib/quenor exists already; not touching them"
  exit 0
fi

scratch="$(mktemp -d)"
receiver=0
cleanup() {
  [ "$receiver" -gt 0 ] && kill "$receiver" 2>/dev/null && wait "$receiver" 2>/dev/null
  apt-get purge -y -q quenor >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}
apt_get() { apt-get -o DPkg::Lock::Timeout=300 -y -q "$@"; }

(cd "$build" && rm -f quenor_*.deb && cpack -G DEB >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb="$(ls "$build"/quenor_*.deb)"
echo "ok: built $(basename "$deb")"
DEBIAN_FRONTEND=noninteractive apt_get install "$deb" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; fail "apt-get install"; }
[ -x /usr/bin/quenor ] || fail "/usr/bin/quenor missing"
getent passwd quenor >/dev/null || fail "the user quenor was not made"
echo "ok: installed; user quenor made"

folder=/var/lib/quenor/packagetest
port=$((20000 + $$ % 20000))
export QT_QPA_PLATFORM=offscreen
/usr/bin/quenor settings --data-dir "$folder" DC9_Port_Enable=1 "DC9_Port=$port" HB_Period=0 \
  >"$scratch/settings.out" 2>&1 || { cat "$scratch/settings.out"; fail "settings"; }
[ "$(stat -c '%a' "$folder/dorvex.cfg")" = "600" ] || fail "dorvex.cfg is not of mode 0600"
/usr/bin/quenor settings --data-dir "$folder" | grep -qx "DC9_Port=$port" || fail "settings shown"
echo "ok: installed quenor settings wrote $folder/dorvex.cfg (0600)"
# A folder root made before the service ever ran is root's; the unit's StateDirectory= hands it
# to the user quenor at each start. Done here by hand, as there may be no systemd.
chown -R quenor:quenor /var/lib/quenor

set +e
/usr/bin/quenor status --json --data-dir "$folder" >"$scratch/status.json"
code=$?
set -e
[ "$code" -eq 3 ] || fail "status of a folder without a receiver exited $code, not 3"
grep -q '"receiver_running":false' "$scratch/status.json" || fail "status --json: $(cat "$scratch/status.json")"

# The service's command line, as the service's user, by the installed program.
setpriv --reuid=quenor --regid=quenor --init-groups -- /usr/bin/quenor --headless \
  --data-dir "$folder" >"$scratch/receiver.out" 2>&1 &
receiver=$!
# Healthy once its receiver port is open.
for _ in $(seq 1 300); do
  /usr/bin/quenor status --json --data-dir "$folder" 2>/dev/null | grep -q '"port_open":true' && break
  sleep 0.1
done
set +e
/usr/bin/quenor status --json --data-dir "$folder" >"$scratch/status.json"
json_code=$?
/usr/bin/quenor status --prometheus --data-dir "$folder" >"$scratch/status.prom"
prom_code=$?
set -e
echo "quenor status --json: exit $json_code: $(cat "$scratch/status.json")"
[ "$json_code" -eq 0 ] || { cat "$scratch/receiver.out"; fail "status --json exited $json_code"; }
grep -q '"receiver_running":true' "$scratch/status.json" || fail "status --json"
grep -q '"port_open":true' "$scratch/status.json" || fail "the receiver port did not open"
[ "$prom_code" -eq 0 ] || fail "status --prometheus exited $prom_code"
grep -qx "quenor_up{folder=\"$folder/\"} 1" "$scratch/status.prom" ||
  { cat "$scratch/status.prom"; fail "status --prometheus"; }
echo "ok: quenor status --prometheus: $(grep -c '^quenor_' "$scratch/status.prom") samples, quenor_up 1"
kill "$receiver"
wait "$receiver" || fail "the receiver did not end in order"
receiver=0

DEBIAN_FRONTEND=noninteractive apt_get purge quenor >"$scratch/purge.log" 2>&1 ||
  { cat "$scratch/purge.log"; fail "apt-get purge"; }
[ ! -e /var/lib/quenor ] || fail "/var/lib/quenor is still there after the purge"
! getent passwd quenor >/dev/null || fail "the user quenor is still there after the purge"
echo "ok: purged; /var/lib/quenor and the user quenor are gone"
echo "package install test passed"

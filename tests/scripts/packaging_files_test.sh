#!/usr/bin/env bash
# The desktop entry and the service unit as the system's own checkers see them:
# desktop-file-validate on packaging/quenor.desktop, and systemd-analyze verify on an instance
# of packaging/quenor@.service installed in a scratch root beside the system's own units, with
# the built program as /usr/bin/quenor, the system's kill as /bin/kill and the manual page on
# MANPATH; groff's warnings on the manual page, which must name every setting. Any complaint, even one
# the checkers call a warning, fails the test; a missing checker fails it too.
# Usage: packaging_files_test.sh QUENOR_BINARY
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
binary="$1"
for tool in desktop-file-validate systemd-analyze; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failed=0

check() {  # check NAME COMMAND...: passes when the command exits 0 and prints nothing
  local name="$1"
  shift
  local out
  if out="$("$@" 2>&1)" && [ -z "$out" ]; then
    echo "ok: $name"
  else
    echo "FAIL: $name"
    echo "$out"
    failed=1
  fi
}

check "desktop entry" desktop-file-validate "$here/packaging/quenor.desktop"

units="$scratch/root/usr/lib/systemd/system"
mkdir -p "$units" "$scratch/root/usr/bin" "$scratch/man/man1"
cp -a /usr/lib/systemd/system/. "$units/"
cp "$here/packaging/quenor@.service" "$units/"
cp "$binary" "$scratch/root/usr/bin/quenor"
# ExecReload signals with the system's kill.
mkdir -p "$scratch/root/bin"
cp /bin/kill "$scratch/root/bin/kill"
cp "$here/packaging/quenor.1" "$scratch/man/man1/"
check "service unit" env MANPATH="$scratch/man" \
  systemd-analyze verify --root="$scratch/root" quenor@main.service

# The unit must run the program as the README and the manual say.
grep -qx 'ExecStart=/usr/bin/quenor --headless --data-dir /var/lib/quenor/%i' \
  "$here/packaging/quenor@.service" || { echo "FAIL: ExecStart"; failed=1; }
# It tells systemd when it is ready and keeps the watchdog fed; SIGHUP reloads the settings.
for line in 'Type=notify' 'ExecReload=/bin/kill -HUP $MAINPID' 'WatchdogSec=30'; do
  grep -qxF "$line" "$here/packaging/quenor@.service" || { echo "FAIL: $line"; failed=1; }
done
# The manual page formats without a warning and names every setting the program knows.
check "manual page" groff -t -man -ww -z "$here/packaging/quenor.1"
for name in $(HOME="$scratch" "$binary" settings --help | awk '/^  [A-Za-z]/ { print $1 }'); do
  grep -qw -- "$name" "$here/packaging/quenor.1" || { echo "FAIL: $name is not in the manual page"; failed=1; }
done
[ "$failed" -eq 0 ] && echo "packaging checks passed"
exit "$failed"

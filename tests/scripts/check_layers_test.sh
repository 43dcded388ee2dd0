#!/usr/bin/env bash
# The layer check passes on the project's tree and refuses a copy of it in which one file
# includes a header of a layer above or beside it.
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
check="$here/scripts/check_layers.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

bash "$check" "$here/src" >/dev/null

expect_refused() {  # file below src, line to add, text the report must contain
  rm -rf "$work/src" && cp -r "$here/src" "$work/src"
  sed -i "1i $2" "$work/src/$1"
  if out="$(bash "$check" "$work/src")"; then
    echo "FAIL: $1 with '$2' passed the layer check"; exit 1
  fi
  if ! grep -F "$work/src/$1:1: " <<<"$out" | grep -qF "$3"; then
    echo "FAIL: report for $1 does not name the file, line and rule: $out"; exit 1
  fi
}

expect_refused protocol/crc16.h '#include "ui/main_form.h"' 'includes "ui/main_form.h": protocol may include only itself'
expect_refused protocol/aes.cpp '#include <QString>' 'includes <QString...>: protocol is plain C++'
expect_refused base/settings.h '#include "store/event_journal.h"' 'base may include only protocol and itself'
expect_refused receiver/connection_table.h '#include "automation/serial_port.h"' 'receiver may include only protocol base store and itself'
expect_refused automation/report_format.h '#include "receiver/receiver_server.h"' 'automation may include only'
expect_refused store/object_table.h '#include "app/receiver_core.h"' 'store may include only'
expect_refused ui/widgets/pictures.h '#include "ui/main_form.h"' 'ui/widgets may include only'
echo "check_layers_test: passed"

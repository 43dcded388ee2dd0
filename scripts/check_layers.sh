#!/usr/bin/env bash
# Checks that every folder of src/ includes only the layers below it (and itself):
#
#   protocol              plain C++ (no Qt): DC-09 frames, CRC, AES, event record, answers
#   base                  settings, files, system log, sync, hand-over, operator port, sockets
#   store                 event journal, object table and their grid texts
#   receiver, automation  the receiver port; the automation link (neither includes the other)
#   app                   the wiring: the core, start-up and shutdown
#   ui/widgets            what several windows share
#   ui                    every window and page
#   main.cpp, headless_main.cpp on top
#
# Usage: scripts/check_layers.sh [SOURCE_ROOT]   (default: the project's src/)
# Prints one line per forbidden include (file, line, rule) and exits 1 if there is any.
set -euo pipefail
root="${1:-$(dirname "$0")/../src}"
root="${root%/}"

# What each layer may include, besides itself.
declare -A allowed=(
  [protocol]=""
  [base]="protocol"
  [store]="protocol base"
  [receiver]="protocol base store"
  [automation]="protocol base store"
  [app]="protocol base store receiver automation"
  [ui/widgets]="protocol base store receiver automation app"
  [ui]="protocol base store receiver automation app ui/widgets"
  [top]="protocol base store receiver automation app ui/widgets ui"
)

layer_of() {  # path below the root -> layer name, empty when the folder is not a layer
  case "$1" in
    ui/widgets/*) echo "ui/widgets" ;;
    */*) local first="${1%%/*}"; [ -n "${allowed[$first]+x}" ] && [ "$first" != top ] && echo "$first" ;;
    *) echo "top" ;;
  esac
  return 0
}

failures=0
fail() { echo "$1"; failures=$((failures + 1)); }

while IFS= read -r -d '' file; do
  rel="${file#"$root"/}"
  from="$(layer_of "$rel")"
  if [ -z "$from" ]; then
    fail "$file: folder is not a layer (known: protocol base store receiver automation app ui ui/widgets)"
    continue
  fi
  line_no=0
  while IFS= read -r line; do
    line_no=$((line_no + 1))
    if [ "$from" = protocol ] && [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(Q[A-Za-z]*)[/\>] ]]; then
      fail "$file:$line_no: includes <${BASH_REMATCH[1]}...>: protocol is plain C++ and includes no Qt header"
      continue
    fi
    [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]] || continue
    target="${BASH_REMATCH[1]}"
    to="$(layer_of "$target")"
    if [ -z "$to" ] || [ "$to" = top ]; then
      fail "$file:$line_no: includes \"$target\": includes name a header by its layer folder (protocol/, base/, store/, ...)"
      continue
    fi
    [ "$to" = "$from" ] && continue
    ok=0
    for a in ${allowed[$from]}; do [ "$a" = "$to" ] && ok=1; done
    if [ $ok -eq 0 ]; then
      fail "$file:$line_no: includes \"$target\": $from may include only ${allowed[$from]:+${allowed[$from]} and }itself"
    fi
  done <"$file"
done < <(find "$root" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

if [ $failures -gt 0 ]; then
  echo "check_layers: $failures forbidden include(s)"
  exit 1
fi
echo "check_layers: every include goes down the layers"

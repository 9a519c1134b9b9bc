#!/usr/bin/env bash
# Runs a window test on a real X display: an Xvfb server of its own on a free display
# number, the program on the xcb platform, then the server is stopped.
#   under_xvfb.sh WIDTHxHEIGHT TEST_PROGRAM [TEST ARGUMENTS...]
# Ends with 77 (skipped) when Xvfb is not installed.
set -euo pipefail
screen="$1"
shift
if ! command -v Xvfb >/dev/null; then
  echo "SKIP: Xvfb is not installed (Debian package xvfb, laid out by scripts/install-deps.sh)"
  exit 77
fi
work="$(mktemp -d)"
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to the given descriptor.
exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -noreset > "$work/xvfb.log" 2>&1 &
server=$!
exec 3>&-
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$server" 2>/dev/null || { cat "$work/xvfb.log"; echo "Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb gave no display number" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
"$@"

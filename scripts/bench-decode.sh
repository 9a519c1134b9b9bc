#!/usr/bin/env bash
# The reading's figures before and after, whole process: builds palvero-replay of an earlier
# commit (the BEFORE, by default e6d81cf) in a temporary folder and of this tree, makes the
# captures of 10,000 meters, and replays each capture with the one and the other in turn,
# ROUNDS times, printing the median of each and their ratio. Not part of the tests.
#
#   scripts/bench-decode.sh [--before COMMIT] [--frames N] [--meters N] [--rounds N]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

before=e6d81cf
frames=500000
meters=10000
rounds=5
while [ $# -gt 0 ]; do
  case "$1" in
    --before) before="$2"; shift 2 ;;
    --frames) frames="$2"; shift 2 ;;
    --meters) meters="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    *) echo "usage: $0 [--before COMMIT] [--frames N] [--meters N] [--rounds N]" >&2; exit 2 ;;
  esac
done

"$root/scripts/install-deps.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Both built the same way: optimised, without the windows and the tests.
echo "Building $before and this tree (Release)..." >&2
mkdir -p "$work/before"
git -C "$root" archive "$before" | tar -x -C "$work/before"
cmake -S "$work/before" -B "$work/before/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPALVERO_BUILD_UI=OFF -DPALVERO_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/before/build" -j "$(nproc)" --target palvero-replay >/dev/null
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPALVERO_BUILD_TESTS=OFF \
  -DPALVERO_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j "$(nproc)" --target palvero-replay decode_inputs >/dev/null
old="$work/before/build/tools/palvero-replay/palvero-replay"
new="$root/build-bench/tools/palvero-replay/palvero-replay"

echo "Making captures of $frames frames from $meters meters..." >&2
build-bench/bench/decode_inputs "$work/in" "$frames" "$meters"
# A meters file written this very moment is read again at each lookup until it is a few
# seconds old (its time could still change within one tick of the clock): let it settle,
# as the meters file of a walk has.
sleep 3

# CPU seconds (user and system) of one run; its output goes nowhere.
cpu() {
  local TIMEFORMAT='%U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f\n", $1 + $2 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '\nload average before: %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-28s %10s %10s %8s %8s %12s %12s\n' "capture (10,000 meters)" "before s" "after s" "ratio" "target" "before f/s" "after f/s"
row() {
  local name="$1" target="$2"
  shift 2
  local a=() b=()
  for ((i = 0; i < rounds; ++i)); do
    a+=("$(cpu "$old" "$@")")
    b+=("$(cpu "$new" "$@")")
  done
  local ma mb
  ma="$(printf '%s\n' "${a[@]}" | median)"
  mb="$(printf '%s\n' "${b[@]}" | median)"
  awk -v n="$name" -v a="$ma" -v b="$mb" -v t="$target" -v f="$frames" \
    'BEGIN { printf "%-28s %10.3f %10.3f %7.2fx %7.1fx %12.0f %12.0f\n", n, a, b, a / b, t, f / a, f / b }'
}
in="$work/in"
row "plain frames" 2.5 --ini "$in/plain/palvero.ini" --data "$in/plain/files" "$in/plain/capture.cap"
row "mode 5, a key per meter" 2 --ini "$in/mode5/palvero.ini" --data "$in/mode5/files" "$in/mode5/capture.cap"
row "extended link/compact mix" 2 --ini "$in/mix/palvero.ini" --data "$in/mix/files" "$in/mix/capture.cap"
row "--json, plain frames" 3 --json --ini "$in/plain/palvero.ini" --data "$in/plain/files" "$in/plain/capture.cap"
printf 'load average after: %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
echo "Seconds are the median CPU time (user and system) of $rounds runs each, taken in turn." >&2

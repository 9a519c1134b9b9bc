#!/usr/bin/env bash
# Installs what is missing, builds Palvero, lays out its program folder and starts it.
#   ./scripts/run.sh          the program, in out/palvero
#   ./scripts/run.sh --demo   a walk past real meters from a simulated receiver, in out/demo
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

demo=0
case "${1:-}" in
  --demo) demo=1 ;;
  "") ;;
  *) echo "usage: $0 [--demo]" >&2; exit 2 ;;
esac

"$root/scripts/install-deps.sh"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPALVERO_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target palvero wmbus-sim

# A program folder: the executable, its settings file (written on the first Apply), the
# data folder with empty meters and measurement files, the template folder.
layout() {
  local folder="$1"
  mkdir -p "$folder/files" "$folder/template"
  cp -f "$root/build-release/apps/palvero/palvero" "$folder/palvero"
  for f in files/meters.mrv files/db.mrv template/tmplates.dat; do
    [ -e "$folder/$f" ] || : > "$folder/$f"
  done
}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  layout "$root/out/palvero"
  echo "Palvero is built in out/palvero, but there is no display to show it on."
  echo "Run it on a virtual display with:  xvfb-run -a $0 ${1:-}"
  exit 1
fi

if [ "$demo" -eq 0 ]; then
  layout "$root/out/palvero"
  exec "$root/out/palvero/palvero"
fi

folder="$root/out/demo"
layout "$folder"
port="$folder/receiver"

# The demo's meters file holds the keys of the encrypted meters of the walk: one 42-byte
# record each, a length byte and 8 ID characters, a length byte and 32 key characters.
: > "$folder/files/meters.mrv"
grep '^# key ' "$root/tools/wmbus-sim/demo-walk.txt" | while read -r _ _ id key; do
  printf '\x08%s\x20%s' "$id" "$key" >> "$folder/files/meters.mrv"
done

cat > "$folder/palvero.ini" <<INI
[Com port]
Name=$port
Speed=115200
Parity=None
[Misc]
UseDBMeters=1
[Wireless]
AES128_5=1
V1=0
V2=1
RSSI_v2=1
[Titles]
Count=3
INI

"$root/build-release/tools/wmbus-sim/wmbus-sim" --rate 2 --loop --link "$port" \
  "$root/tools/wmbus-sim/demo-walk.txt" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done

echo "Demo: press Start in Palvero and watch the meters of the walk appear."
"$folder/palvero"

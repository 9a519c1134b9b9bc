#!/usr/bin/env bash
# Installs what is missing, builds Palvero, lays out its program folder and starts it.
#   ./scripts/run.sh          the program, in out/palvero
#   ./scripts/run.sh --demo   a walk past real meters from a simulated receiver, in out/demo;
#                             without a display the walk is replayed in the terminal
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
cmake --build build-release -j "$(nproc)"

# The program folder as an installation lays it out: the program, its tools and manuals,
# and the data folders; installing again keeps the data files and settings there.
layout() {
  cmake --install build-release --prefix "$1" >/dev/null
}

display=1
[ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || display=0

if [ "$demo" -eq 0 ]; then
  layout "$root/out/palvero"
  if [ "$display" -eq 0 ]; then
    echo "Palvero is built and laid out in out/palvero, but there is no display to show it on."
    echo "On a desktop, start it with ./scripts/run.sh or out/palvero/palvero."
    echo "To see a reading here in the terminal: ./scripts/run.sh --demo"
    exit 0
  fi
  exec "$root/out/palvero/palvero"
fi

folder="$root/out/demo"
walk="$root/tools/wmbus-sim/demo-walk.txt"
port="$folder/receiver"
# The demo's meters file and settings first, only where they are missing, so that the
# installation keeps them and a second run keeps what the operator changed.
"$root/scripts/demo-layout.sh" "$folder" "$walk"
layout "$folder"

if [ "$display" -eq 0 ]; then
  # No window to show: the walk's frames go through the same reading as in the window,
  # and the meter table is printed here.
  frames="$folder/demo-walk.hex"
  "$folder/wmbus-sim" --frames "$walk" > "$frames"
  echo "Demo walk: $(grep -c '^[0-9A-Fa-f]' "$walk") telegrams read through palvero-replay, with the keys in out/demo/files/meters.mrv:"
  echo
  "$folder/palvero-replay" --ini "$folder/palvero.ini" --data "$folder/files" --hex "$frames" 2>/dev/null |
    awk -F';' '
      BEGIN { n = split("No.;Meter ID;MFR;Medium;Main value;Units;RSSI, dBm;Time", title, ";")
              split("1;2;3;6;7;8;9;10", field, ";")
              for (c = 1; c <= n; c++) { cell[0, c] = title[c]; width[c] = length(title[c]) } }
      NF > 1 && $2 != "" { rows++
              for (c = 1; c <= n; c++) { v = $(field[c]); cell[rows, c] = v
                                        if (length(v) > width[c]) width[c] = length(v) } }
      END   { for (r = 0; r <= rows; r++) { line = ""
                for (c = 1; c <= n; c++) {
                  pad = width[c] - length(cell[r, c])
                  text = (c == 5 && r > 0) ? sprintf("%" width[c] "s", cell[r, c]) : sprintf("%-" width[c] "s", cell[r, c])
                  line = line (c > 1 ? "  " : "") text }
                sub(/ +$/, "", line); print line
                if (r == 0) { rule = ""; for (c = 1; c <= n; c++) rule = rule (c > 1 ? "  " : "") sprintf("%" width[c] "s", "")
                              gsub(/ /, "-", rule); print rule } }
              print ""; print rows " meters read." }'
  echo
  echo "To watch the walk in Palvero's window, run ./scripts/run.sh --demo on a desktop"
  echo "(a machine with a display); the program folder is out/demo."
  exit 0
fi

"$folder/wmbus-sim" --rate 2 --loop --link "$port" "$walk" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done

echo "Demo: press Start in Palvero and watch the meters of the walk appear. Close the window to end."
"$folder/palvero"

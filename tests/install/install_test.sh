#!/usr/bin/env bash
# The program folder as it is installed and shipped.
#   install_test.sh BUILD_DIR SOURCE_DIR over-existing
#       installs over a folder that holds data files, captures, logs and settings, and
#       upgrades it from a new folder with palvero-upgrade: none of them may change
#   install_test.sh BUILD_DIR SOURCE_DIR demo
#       lays out the demonstration folder as ./scripts/run.sh --demo does, twice: what the
#       operator changed in between (settings, the window's place, meters) stays
#   install_test.sh BUILD_DIR SOURCE_DIR package
#       makes the release archive, unpacks it into a clean folder and starts
#       palvero-replay and the program from there
set -euo pipefail
build="$1" src="$2" mode="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

program_files=(palvero palvero-replay wmbus-sim UsrManEn.pdf UsrManBg.pdf palvero.png README.txt palvero-desktop-entry palvero-upgrade)
data_files=(files/meters.mrv files/db.mrv template/tmplates.dat palvero.ini
            files/captures/2026-05-04_08-15-00.cap files/glog.txt files/gloge.txt files/compact-formats.txt
            files/meter-formats.txt)

check_program_files() {
  local folder="$1"
  for f in "${program_files[@]}"; do
    [ -s "$folder/$f" ] || fail "$folder/$f is missing or empty"
  done
  for f in palvero palvero-replay wmbus-sim palvero-desktop-entry palvero-upgrade; do
    [ -x "$folder/$f" ] || fail "$folder/$f is not executable"
  done
}

fill_data() {
  local folder="$1"
  mkdir -p "$folder/files/captures" "$folder/template"
  printf '\x0812345678\x20A004EB23329A477F1DD2D7820B56EB3D' > "$folder/files/meters.mrv"
  head -c 1056 /dev/urandom > "$folder/files/db.mrv"
  head -c 51 /dev/urandom > "$folder/template/tmplates.dat"
  printf '[Com port]\r\nName=ttyUSB3\r\n[Misc]\r\nFontSize=11\r\n' > "$folder/palvero.ini"
  head -c 4000 /dev/urandom > "$folder/files/captures/2026-05-04_08-15-00.cap"
  echo "Error 10, encountered at 08:15:00,  04.05.2026" > "$folder/files/glog.txt"
  echo "Cannot write meters.csv, encountered at 08:15:00,  04.05.2026" > "$folder/files/gloge.txt"
  echo "format 3F2A1C0B: 04 13, 02 5B" > "$folder/files/compact-formats.txt"
  printf 'format taught\n  manufacturer KAM\n  main at 4 uint 4 scale -3 m3\n' > "$folder/files/meter-formats.txt"
}

sums() { (cd "$1" && sha256sum "${data_files[@]}"); }

if [ "$mode" = over-existing ]; then
  old="$work/palvero"
  fill_data "$old"
  echo "an older program" > "$old/palvero"
  sums "$old" > "$work/before"

  cmake --install "$build" --prefix "$old" > "$work/install.log"
  sums "$old" > "$work/after"
  diff "$work/before" "$work/after" || fail "installing over the folder changed its data"
  cmp -s "$old/palvero" "$build/apps/palvero/palvero" || fail "the program was not replaced"
  check_program_files "$old"
  grep -qxF "Exec=\"$old/palvero\"" "$old/palvero.desktop" || fail "palvero.desktop does not start $old/palvero"
  grep -qxF "Icon=$old/palvero.png" "$old/palvero.desktop" || fail "palvero.desktop has no icon"

  # A fresh folder gets the data files empty.
  cmake --install "$build" --prefix "$work/new" > /dev/null
  check_program_files "$work/new"
  for f in files/meters.mrv files/db.mrv template/tmplates.dat; do
    [ -f "$work/new/$f" ] && [ ! -s "$work/new/$f" ] || fail "$f is not laid out empty"
  done
  [ ! -e "$work/new/palvero.ini" ] || fail "an installation must not bring settings"

  # Upgrading from the new folder: the program is replaced, the data stays, and a data
  # file that had gone missing is laid out empty.
  echo "an older program" > "$old/palvero"
  "$work/new/palvero-upgrade" "$old" > /dev/null
  diff "$work/before" <(sums "$old") || fail "palvero-upgrade changed the data"
  cmp -s "$old/palvero" "$build/apps/palvero/palvero" || fail "palvero-upgrade did not replace the program"
  rm "$old/template/tmplates.dat"
  "$work/new/palvero-upgrade" "$old" > /dev/null
  [ -f "$old/template/tmplates.dat" ] && [ ! -s "$old/template/tmplates.dat" ] || fail "missing tmplates.dat not laid out"
  if "$work/new/palvero-upgrade" "$work/new" 2>/dev/null; then fail "palvero-upgrade upgraded its own folder"; fi
  mkdir "$work/empty"
  if "$work/new/palvero-upgrade" "$work/empty" 2>/dev/null; then fail "palvero-upgrade took a folder without Palvero"; fi
  echo "install over an existing folder: data, captures, logs and settings unchanged"
  exit 0
fi

if [ "$mode" = demo ]; then
  demo="$work/demo"
  walk="$src/tools/wmbus-sim/demo-walk.txt"
  "$src/scripts/demo-layout.sh" "$demo" "$walk" > /dev/null
  cmake --install "$build" --prefix "$demo" > /dev/null
  keys=$(grep -c '^# key ' "$walk")
  [ "$(stat -c %s "$demo/files/meters.mrv")" -eq $((keys * 42)) ] || fail "the demo's meters file does not hold the $keys keys"
  grep -qxF "Name=$demo/receiver" "$demo/palvero.ini" || fail "the demo's settings do not name the simulated receiver"
  [ -f "$demo/files/db.mrv" ] && [ -f "$demo/template/tmplates.dat" ] || fail "the installation did not lay out the data files"

  # The operator's changes: a font size applied, the window moved, one meter more.
  printf '[Palvero]\r\nWindowLeft=40\r\n' >> "$demo/palvero.ini"
  sed -i 's/^Count=3$/Count=5/' "$demo/palvero.ini"
  printf '\x0899999999\x00' >> "$demo/files/meters.mrv"
  head -c 32 /dev/zero >> "$demo/files/meters.mrv"
  before=$(cd "$demo" && sha256sum palvero.ini files/meters.mrv files/db.mrv template/tmplates.dat)
  out=$("$src/scripts/demo-layout.sh" "$demo" "$walk")
  cmake --install "$build" --prefix "$demo" > /dev/null
  [ -z "$out" ] || fail "the second layout said: $out"
  [ "$before" = "$(cd "$demo" && sha256sum palvero.ini files/meters.mrv files/db.mrv template/tmplates.dat)" ] ||
    fail "running the demo again changed what the operator had changed"

  # Settings that name another port are kept, and the layout says so.
  sed -i "s|^Name=.*|Name=ttyUSB0|" "$demo/palvero.ini"
  # Taken whole first: grep -q stops reading at its match, and the layout's later lines would
  # then fail the pipe.
  out=$("$src/scripts/demo-layout.sh" "$demo" "$walk")
  grep -q "names another port" <<<"$out" || fail "no note about the port"
  grep -qxF "Name=ttyUSB0" "$demo/palvero.ini" || fail "the operator's port was replaced"
  echo "demo folder laid out again: settings, window place and meters kept"
  exit 0
fi

[ "$mode" = package ] || fail "unknown mode $mode"
cpack --config "$build/CPackConfig.cmake" -B "$work/package" > "$work/cpack.log" || { cat "$work/cpack.log"; fail "cpack"; }
archives=("$work"/package/palvero-*-Linux.tar.gz)
[ -f "${archives[0]}" ] || fail "no release archive"
mkdir "$work/clean"
tar -xzf "${archives[0]}" -C "$work/clean"
folders=("$work"/clean/palvero-*-Linux)
folder="${folders[0]}"
[ -d "$folder" ] || fail "the archive has no program folder"
check_program_files "$folder"
for f in files/meters.mrv files/db.mrv template/tmplates.dat; do
  [ -f "$folder/$f" ] && [ ! -s "$folder/$f" ] || fail "$f is not in the archive, empty"
done
for f in palvero.ini files/captures files/glog.txt palvero.desktop; do
  [ ! -e "$folder/$f" ] || fail "the archive must not carry $f"
done

# The tools work from the unpacked folder: the demo walk's frames through palvero-replay.
"$folder/wmbus-sim" --frames "$src/tools/wmbus-sim/demo-walk.txt" > "$work/walk.hex"
(cd "$work" && "$folder/palvero-replay" --data "$folder/files" --hex walk.hex > table.csv 2> replay.log) ||
  { cat "$work/replay.log"; fail "palvero-replay"; }
meters=$(awk -F';' '$2 != ""' "$work/table.csv" | wc -l)
[ "$meters" -eq 40 ] || fail "palvero-replay read $meters meters of the demo walk, not 40"

# The program starts from there and keeps running until it is stopped.
set +e
(cd "$work" && QT_QPA_PLATFORM=offscreen timeout 5 "$folder/palvero" > program.log 2>&1)
status=$?
set -e
[ "$status" -eq 124 ] || { cat "$work/program.log"; fail "the program ended by itself with status $status"; }

# The menu entry is written for the folder where the archive was unpacked.
XDG_DATA_HOME="$work/xdg" "$folder/palvero-desktop-entry" > /dev/null
grep -qxF "Exec=\"$folder/palvero\"" "$work/xdg/applications/palvero.desktop" || fail "menu entry"
cmp -s "$folder/palvero.desktop" "$work/xdg/applications/palvero.desktop" || fail "menu entry differs"
echo "release archive: unpacked, palvero-replay read the demo walk, the program started"

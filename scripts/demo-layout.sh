#!/usr/bin/env bash
# Lays out what the demonstration needs in a program folder, only where it is missing, as
# an installation lays out its data files: the meters file with the keys of the walk's
# encrypted meters, and settings that name the simulated receiver's port. Run again, it
# keeps what the operator changed there: settings, the window's place, meters and keys.
#   demo-layout.sh FOLDER WALK
set -euo pipefail
folder="$1"
walk="$2"
port="$folder/receiver"
mkdir -p "$folder/files"

# One 42-byte record per key: a length byte and 8 ID characters, a length byte and 32 key
# characters.
if [ ! -e "$folder/files/meters.mrv" ]; then
  : > "$folder/files/meters.mrv.new"
  grep '^# key ' "$walk" | while read -r _ _ id key; do
    printf '\x08%s\x20%s' "$id" "$key" >> "$folder/files/meters.mrv.new"
  done
  mv "$folder/files/meters.mrv.new" "$folder/files/meters.mrv"
fi

if [ ! -e "$folder/palvero.ini" ]; then
  cat > "$folder/palvero.ini.new" <<INI
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
  mv "$folder/palvero.ini.new" "$folder/palvero.ini"
elif ! grep -qxF "Name=$port" "$folder/palvero.ini"; then
  echo "Note: $folder/palvero.ini names another port than the simulated receiver's ($port);"
  echo "choose it under Tools > Settings, or delete palvero.ini to lay out the demo's settings again."
fi

#!/usr/bin/env bash
# A PostgreSQL server for the central database tests, in a temporary folder of its own,
# on a local socket only, run as an unprivileged user (postgres, or nobody) when started
# by root.
#   pg_server.sh start STATE [--durable]   starts it; STATE/socket names the socket folder
#   pg_server.sh stop STATE                stops it and removes its folder
# Without the server's programs (Debian package postgresql) STATE/skip says why, and the
# tests skip. --durable keeps the server's fsync on (for figures); tests run without it.
set -euo pipefail
action="${1:?start or stop}"
state="${2:?state folder}"

as_user() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u "$(cat "$state/user")" -- "$@"; else "$@"; fi
}

case "$action" in
start)
  [ -f "$state/socket" ] && "$0" stop "$state"
  rm -rf "$state"
  mkdir -p "$state"
  bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
  if [ -z "$bin" ] || [ ! -x "$bin/initdb" ] || [ ! -x "$bin/pg_ctl" ]; then
    echo "PostgreSQL server programs not found under /usr/lib/postgresql/*/bin (Debian package postgresql)" > "$state/skip"
    echo "central database tests skipped: $(cat "$state/skip")"
    exit 0
  fi
  user=$(id -un)
  if [ "$(id -u)" -eq 0 ]; then
    user=postgres
    getent passwd postgres >/dev/null || user=nobody
  fi
  echo "$user" > "$state/user"
  echo "$bin" > "$state/bin"
  folder=$(mktemp -d /tmp/palvero-pg-XXXXXX)
  chmod 755 "$folder"
  [ "$(id -u)" -eq 0 ] && chown "$user" "$folder"
  echo "$folder" > "$state/folder"
  as_user "$bin/initdb" -D "$folder/data" -U palvero_admin --auth-local=trust --auth-host=reject \
    -E UTF8 --locale=C.UTF-8 > "$folder/initdb.log" 2>&1 || { cat "$folder/initdb.log"; exit 1; }
  # The administrator comes in without a password; everybody else needs one.
  printf 'local all palvero_admin trust\nlocal all all scram-sha-256\n' > "$folder/pg_hba.conf"
  cp "$folder/pg_hba.conf" "$folder/data/pg_hba.conf" 2>/dev/null || as_user cp "$folder/pg_hba.conf" "$folder/data/pg_hba.conf"
  [ "$(id -u)" -eq 0 ] && chown "$user" "$folder/data/pg_hba.conf"
  durable=off
  [ "${3:-}" = "--durable" ] && durable=on
  as_user "$bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 \
    -o "-c listen_addresses='' -c unix_socket_directories='$folder' -c fsync=$durable -c max_connections=40" \
    start > /dev/null || { cat "$folder/server.log"; exit 1; }
  echo "$folder" > "$state/socket"
  echo "PostgreSQL $("$bin/postgres" --version | awk '{print $3}') runs on the socket in $folder"
  ;;
stop)
  if [ -f "$state/folder" ]; then
    folder=$(cat "$state/folder")
    if [ -f "$folder/data/postmaster.pid" ]; then
      as_user "$(cat "$state/bin")/pg_ctl" -D "$folder/data" -m immediate -w stop > /dev/null 2>&1 || true
    fi
    rm -rf "$folder"
  fi
  rm -rf "$state"
  ;;
*)
  echo "usage: $0 start|stop STATE [--durable]" >&2
  exit 2
  ;;
esac

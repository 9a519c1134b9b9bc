#!/usr/bin/env bash
# The central database's figures (not part of the tests): builds an optimised tree, starts
# a PostgreSQL server of its own in a temporary folder (fsync on, as a real server runs),
# sends 100,000 readings in batches of 100, 500 and 2,000, and stops the server again.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
"$root/scripts/install-deps.sh"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPALVERO_BUILD_TESTS=OFF -DPALVERO_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j "$(nproc)" --target bench_central
state="$root/build-bench/pg-state"
trap '"$root/tests/central/pg_server.sh" stop "$state"' EXIT
"$root/tests/central/pg_server.sh" start "$state" --durable
if [ -f "$state/skip" ]; then
  echo "No PostgreSQL server: $(cat "$state/skip")"
  exit 1
fi
PALVERO_BENCH_PG_SOCKET="$(cat "$state/socket")" "$root/build-bench/bench/bench_central" "$@"

#!/usr/bin/env bash
# Builds an optimised tree and prints the pipeline's figures (not part of the tests).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
"$root/scripts/install-deps.sh"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPALVERO_BUILD_TESTS=OFF -DPALVERO_BUILD_BENCH=ON
cmake --build build-bench -j "$(nproc)"
"$root/build-bench/bench/bench_pipeline" "$@"

#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test through CTest, then runs each fuzz target briefly on its seed corpus.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

"$root/scripts/install-deps.sh"
jobs="$(nproc)"

# Windows are tested without a display.
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp"

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPALVERO_SANITIZE=ON -DPALVERO_BUILD_TESTS=ON
cmake --build build-test -j "$jobs"
ctest --test-dir build-test --output-on-failure -j "$jobs"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPALVERO_BUILD_UI=OFF -DPALVERO_BUILD_TESTS=OFF -DPALVERO_BUILD_FUZZ=ON -DPALVERO_FUZZ_SECONDS=20
cmake --build build-fuzz -j "$jobs"
ctest --test-dir build-fuzz --output-on-failure -j "$jobs"

echo "All tests passed."

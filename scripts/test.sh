#!/usr/bin/env bash
# Sets up a fresh machine, builds everything with the address and undefined-behaviour
# sanitizers, runs each fuzz target for a minute, then runs every test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh"
if [[ -f "$root/tests/interop/package-lock.json" ]]; then
  (cd "$root/tests/interop" && npm ci --no-audit --no-fund --loglevel=error)
fi
build="$root/build/test"
bash "$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Debug -DQD_SANITIZE=ON -DQD_BUILD_BENCH=OFF
# A short run of each fuzz target (clang, its own build in build/fuzz), before the tests so
# that the test summary is the last thing printed.
bash "$root/scripts/fuzz.sh" 60
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600

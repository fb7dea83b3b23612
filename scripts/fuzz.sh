#!/usr/bin/env bash
# scripts/fuzz.sh [seconds]: builds the libFuzzer targets with clang and AddressSanitizer
# in build/fuzz and runs each for that many seconds (default 60) from its seed corpus in
# tests/fuzz/corpus/ (new inputs go to build/fuzz/corpus/, the seeds stay as they are).
# Fails when a target finds a crash, a leak or a broken invariant; the input is kept as
# build/fuzz/crash-* (replay: build/fuzz/tests/fuzz/<target> <file>).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
build="$root/build/fuzz"
targets=(mcp_server_fuzz daemon_dispatch_fuzz)
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQD_FUZZ=ON -DQD_BUILD_TESTS=OFF -DQD_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]}"
for target in "${targets[@]}"; do
  name="${target%_fuzz}"
  mkdir -p "$build/corpus/$name"
  echo "fuzzing $target for ${seconds}s"
  # The daemon's own log lines (one JSON object per malformed input) are dropped; the
  # fuzzer's and the sanitizer's reports pass.
  ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}" "$build/tests/fuzz/$target" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -print_funcs=0 \
    -artifact_prefix="$build/" "$build/corpus/$name" "$root/tests/fuzz/corpus/$name" \
    2> >(grep -v '^{"timestamp":' >&2)
done

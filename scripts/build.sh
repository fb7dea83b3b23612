#!/usr/bin/env bash
# scripts/build.sh <build-dir> [extra cmake args...]: configure (once) and build everything.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$1"; shift
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$build" "${generator[@]}" "$@" >/dev/null
else
  cmake -S "$root" -B "$build" "$@" >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)"

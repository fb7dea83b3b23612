#!/usr/bin/env bash
# scripts/settings-screenshots.sh <dir>: screenshots of the settings window, under xvfb,
# over a real daemon in a temporary HOME (tier dev) whose note app is the fixture MCP
# server offering 400 more tools, some with operations. The settings window's driver is
# installed as <dir>/bin/QuarvelDorarov beside a copy of the daemon run from there, so the
# daemon's admin peer check admits it. PNGs go to <dir>; the driver prints one line per
# shot, the switch click times and whether every tab fits at 650x500.
# Needs a built tree (QD_BUILD_DIR, default build/test) with QuarvelDorarovDaemon,
# settings_screenshot_driver and mcp_fixture_server, and xvfb-run.
set -uo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 <dir>" >&2; exit 2; }
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QD_BUILD_DIR:-$root/build/test}"
mkdir -p "$1"
out="$(cd "$1" && pwd)"
if [[ -z "${QD_SCREENSHOTS_UNDER_XVFB:-}" ]]; then
  QD_SCREENSHOTS_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$out"
fi

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

home="$(mktemp -d /tmp/qd-settings-shots-XXXXXX)"
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_STATE_HOME="$home/state" XDG_CONFIG_HOME="$home/config"
export XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/run"
export TINDERBOX_DISABLE_APP_LAUNCH=1 TINDERBOX_DISABLE=0 TINDERBOX_MCP_PATH="$build/tests/fixtures/mcp_fixture_server"
export QD_FIXTURE_NOTE_APP=1 QD_FIXTURE_TOOL_COUNT=400
# Qt's D-Bus link under xvfb leaves one buffer of libdbus behind at exit.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

mkdir -p "$out/bin"
install -m 0755 "$build/src/daemon/cli/QuarvelDorarovDaemon" "$out/bin/QuarvelDorarovDaemon"
install -m 0755 "$build/src/app/settings/window/settings_screenshot_driver" "$out/bin/QuarvelDorarov"

TINDERBOX_FEATURE_TIER=dev "$out/bin/QuarvelDorarovDaemon" --daemon >"$home/daemon.out" 2>"$home/daemon.err" &
daemon=$!
cleanup() {
  kill -TERM "$daemon" 2>/dev/null && wait "$daemon" 2>/dev/null
  rm -rf "$home"
}
trap cleanup EXIT

end=$((SECONDS + 60))
until [[ -S "$XDG_DATA_HOME/QuarvelDorarov/admin.sock" ]]; do
  ((SECONDS >= end)) && { fail "the daemon's admin socket did not appear"; cat "$home/daemon.err"; exit 1; }
  sleep 0.2
done

# The release tier (the variable unset): three tabs.
env -u TINDERBOX_FEATURE_TIER "$out/bin/QuarvelDorarov" --out "$out" --phase release --min-tools 400 ||
  fail "the release-tier run"
# Everything else in tier dev; the driver stops the daemon for its last shots.
TINDERBOX_FEATURE_TIER=dev "$out/bin/QuarvelDorarov" --out "$out" --phase full --min-tools 400 --daemon-pid "$daemon" ||
  fail "the dev-tier run"

ls "$out"/*.png
((failures == 0)) && echo "all shots taken" || echo "$failures step(s) failed"
exit $((failures > 0))

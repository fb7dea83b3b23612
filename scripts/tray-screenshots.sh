#!/usr/bin/env bash
# scripts/tray-screenshots.sh <dir>: drives the tray application under xvfb with trayer as
# the tray host, over the real daemon (started by the application, detached) whose note
# app is the fixture MCP server, in a temporary HOME. Clicks the icon and saves PNGs in
# <dir>: the running menu, the note app quit and opened again (its server gets a new pid),
# the stopped menu after the daemon is killed, the diagnostics confirmation (sent to a
# recording xdg-email), the settings window opened while the service is stopped, and the
# updates alert of its "Check Now".
# Then quits from the menu, and runs the application once more offscreen (no tray) until
# SIGTERM. Exit status 0 when every step held; each failed step prints "FAILED: ...".
# Needs a built tree (QD_BUILD_DIR, default build/test) and xvfb-run, trayer, xdotool and
# ImageMagick's import (scripts/packages.txt).
set -uo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 <dir>" >&2; exit 2; }
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QD_BUILD_DIR:-$root/build/test}"
mkdir -p "$1"
out="$(cd "$1" && pwd)"
if [[ -z "${QD_TRAY_SHOTS_UNDER_XVFB:-}" ]]; then
  QD_TRAY_SHOTS_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$out"
fi

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
step() { echo "-- $*"; }

home="$(mktemp -d /tmp/qd-tray-shots-XXXXXX)"
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_STATE_HOME="$home/state" XDG_CONFIG_HOME="$home/config"
export XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/run"
export TINDERBOX_DISABLE_APP_LAUNCH=1 TINDERBOX_MCP_PATH="$build/tests/fixtures/mcp_fixture_server" QD_FIXTURE_NOTE_APP=1
# Qt's D-Bus link under xvfb leaves one buffer of libdbus behind at exit.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
mkdir -p "$XDG_RUNTIME_DIR" "$home/fakes" && chmod 700 "$XDG_RUNTIME_DIR"
# No user systemd here: the application starts the daemon itself. xdg-email and xdg-open
# only record what they were asked.
printf '#!/bin/sh\necho offline\nexit 1\n' >"$home/fakes/systemctl"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >"%s/xdg-email.args"\n' "$home" >"$home/fakes/xdg-email"
printf '#!/bin/sh\necho "$*" >>"%s/xdg-open.log"\n' "$home" >"$home/fakes/xdg-open"
chmod 755 "$home/fakes"/*
export PATH="$home/fakes:$PATH"

# The processes this run started are found as the application finds them: the daemon by
# the health file it writes, the note-app server by the pid file of the daemon's supervisor,
# the application and trayer by the pids their launches returned. Each found pid must run
# the expected executable with this run's HOME, so a daemon or server a developer runs from
# the same tree is never touched.
support="$XDG_DATA_HOME/QuarvelDorarov"
ours() {  # <pid> <executable>
  [[ "$1" =~ ^[0-9]+$ ]] || return 1
  [[ "$(readlink "/proc/$1/exe" 2>/dev/null)" == "$(readlink -f "$2")" ]] || return 1
  tr '\0' '\n' <"/proc/$1/environ" 2>/dev/null | grep -qxF "HOME=$home"
}
daemon_pid() {
  local pid
  pid="$(grep -o '"daemonPid"[[:space:]]*:[[:space:]]*[0-9]*' "$support/health.json" 2>/dev/null | grep -o '[0-9]*$')"
  if ours "$pid" "$build/bin/QuarvelDorarovDaemon"; then echo "$pid"; fi
}
# For wait_for, which runs its command again each time: a "$(daemon_pid)" in its arguments
# would be read once, before the wait.
daemon_runs() { [[ -n "$(daemon_pid)" ]]; }
daemon_gone() { [[ -z "$(daemon_pid)" ]]; }
server_pid() {
  local pid
  pid="$(cat "$support/daemon.pid" 2>/dev/null)"
  if ours "$pid" "$TINDERBOX_MCP_PATH"; then echo "$pid"; fi
}

app_pid=""
tray_pid=""
cleanup() {
  local pid
  [[ -n "$app_pid" ]] && kill -TERM "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  # What the application left running (it stops the daemon as it quits).
  pid="$(daemon_pid)" && [[ -n "$pid" ]] && kill -TERM "$pid" 2>/dev/null
  pid="$(server_pid)" && [[ -n "$pid" ]] && kill -TERM "$pid" 2>/dev/null
  [[ -n "$tray_pid" ]] && kill "$tray_pid" 2>/dev/null
  rm -rf "$home"
}
trap cleanup EXIT

# wait_for <seconds> <command...>: true once the command succeeds.
wait_for() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do ((SECONDS >= end)) && return 1; sleep 0.3; done
}
shot() { import -window root "$out/$1.png" && echo "shot $1.png"; }
# The tray icon's centre (trayer holds only our icon) and its colour there.
icon_xy() {
  local w
  w="$(xdotool search --name '^panel$' | head -1)" || return 1
  eval "$(xdotool getwindowgeometry --shell "$w")"
  echo "$((X + WIDTH / 2)) $((Y + HEIGHT / 2))"
}
icon_is() {  # green, yellow, gray, orange, red
  local xy hex
  xy="$(icon_xy)" || return 1
  hex="$(import -window root -crop "1x1+${xy% *}+${xy#* }" -depth 8 txt:- 2>/dev/null | grep -o '#[0-9A-F]\{6\}' | head -1)"
  case "$1" in
    green) [[ "$hex" == "#34C759" ]] ;; yellow) [[ "$hex" == "#FFCC00" ]] ;; gray) [[ "$hex" == "#8E8E93" ]] ;;
    orange) [[ "$hex" == "#FF9500" ]] ;; red) [[ "$hex" == "#FF3B30" ]] ;; *) return 1 ;;
  esac
}
# Where the menu shows: just below and left of the icon.
menu_xy() {
  local xy
  xy="$(icon_xy)" || return 1
  echo "$((${xy% *} - 60)) $((${xy#* } + 40))"
}
# Whether the menu is drawn: the black root is covered where it shows.
menu_shows() {
  local xy hex
  xy="$(menu_xy)" || return 1
  hex="$(import -window root -crop "1x1+${xy% *}+${xy#* }" -depth 8 txt:- 2>/dev/null |
    grep -o '#[0-9A-F]\{6\}' | head -1)"
  [[ -n "$hex" && "$hex" != "#000000" ]]
}
# The application's visible windows, one id a line. The menu is one of them while it shows
# (the same window each time), the tray icon another.
app_windows() { xdotool search --onlyvisible --classname '^QuarvelDorarov$' 2>/dev/null | sort; }
menu_window=""
# Whether a window of the application that was not there before the click covers the place
# where the menu shows (sets menu_window).
menu_mapped() {  # <windows before the click>
  local xy px py w
  xy="$(menu_xy)" || return 1
  px="${xy% *}" py="${xy#* }"
  for w in $(comm -13 <(echo "$1") <(app_windows)); do
    eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
    if ((X <= px && px < X + WIDTH && Y <= py && py < Y + HEIGHT)); then
      menu_window="$w"
      return 0
    fi
  done
  return 1
}
menu_gone() { ! grep -qx "$menu_window" <<<"$(app_windows)"; }
# Clicks the icon and waits for the menu's window and for it to be drawn. A second click
# only when the first brought no window at all (a click may only give the focus).
open_menu() {
  local xy attempt before
  xy="$(icon_xy)" || { fail "no tray icon"; return 1; }
  for attempt in 1 2; do
    before="$(app_windows)"
    xdotool mousemove ${xy% *} ${xy#* } click 1
    if wait_for 30 menu_mapped "$before"; then
      wait_for 30 menu_shows && return 0
      break
    fi
  done
  fail "the menu did not open"
  return 1
}
# Waits for the menu's window to go, after a pick or a click outside it.
wait_menu_gone() { wait_for 30 menu_gone || fail "the menu did not close"; }
# Closes the menu with a click on the bare root, far from the icon. (After an Escape the
# next click on the icon only closes what Qt still takes for an open menu.)
close_menu() { xdotool mousemove 400 600 click 1; wait_menu_gone; }
# Picks a menu item by moving down from the top (the header is not selectable).
pick() {
  open_menu || return 1
  [[ "$1" -gt 0 ]] && xdotool key --delay 150 $(printf 'Down %.0s' $(seq "$1"))
  xdotool key Return
  wait_menu_gone
}
visible_window() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

trayer --edge top --align right --widthtype request --height 32 --SetDockType true >/dev/null 2>&1 &
tray_pid=$!
wait_for 30 visible_window '^panel$' || fail "trayer's panel did not show"

step "first launch: install the service and start it"
"$build/bin/QuarvelDorarov" >"$home/app.out" 2>"$home/app.err" &
app_pid=$!
wait_for 30 visible_window "Quarvel Dorarov" && xdotool key Return  # "Install"
wait_for 30 visible_window "Installation Complete" && xdotool key Return
wait_for 60 grep -q "the daemon is running" "$home/app.err" || fail "the daemon did not come up"

step "running: green icon, Dorarov Running, clients line, note-app items"
# The note app connects in the background; a later health check (every 15 s) shows it.
wait_for 60 icon_is green || fail "the icon did not turn green"
open_menu && shot 01-running && close_menu

step "Quit Tinderbox, then Open Tinderbox: the server returns with a new pid"
first="$(server_pid)"
[[ -n "$first" ]] || fail "the note-app server is not running"
pick 3  # Settings..., Restart Tinderbox, Quit Tinderbox
wait_for 60 bash -c "! kill -0 $first 2>/dev/null" || fail "Quit Tinderbox left the server running"
# The daemon's note-app health loop (every 10 s) starts a server that has gone again, so
# the yellow state may pass before a health check of ours sees it.
wait_for 30 icon_is yellow || echo "NOTE: the daemon brought the note-app server back before the icon turned yellow"
open_menu && shot 02-note-app-closed && close_menu
pick 2  # Settings..., Open Tinderbox
new_server() { local p; p="$(server_pid)"; [[ -n "$p" && "$p" != "$first" ]]; }
wait_for 60 new_server || fail "Open Tinderbox did not start the server again"
second="$(server_pid)"
echo "note-app server pid $first, then $second"
wait_for 60 icon_is green || fail "the icon did not turn green again"

step "daemon killed: Dorarov Stopped, Restart Service, Email Diagnostics..., View Logs"
kill -KILL "$(daemon_pid)" 2>/dev/null || fail "no daemon to kill"
wait_for 60 grep -q "the daemon is not running" "$home/app.err" || fail "the app did not see the daemon stop"
wait_for 30 icon_is gray || fail "the icon did not turn gray"
open_menu && shot 03-stopped && close_menu

step "Email Diagnostics... with a recording xdg-email"
pick 3  # Settings..., Restart Service, Email Diagnostics...
wait_for 30 visible_window "Send Diagnostics" || fail "no confirmation"
shot 04-diagnostics-confirmation
xdotool key Return  # "Send Email"
file="$XDG_RUNTIME_DIR/quarvel-toolbox-diagnostics.txt"
if wait_for 30 test -f "$home/xdg-email.args"; then
  echo "xdg-email was called with:"; sed 's/^/  /' "$home/xdg-email.args"
  grep -qx -- "--attach" "$home/xdg-email.args" && grep -qx -- "$file" "$home/xdg-email.args" ||
    fail "xdg-email did not get the file"
else
  fail "xdg-email was not called"
fi
[[ "$(stat -c %a "$file" 2>/dev/null)" == "600" ]] || fail "the diagnostics file is not 0600 in $XDG_RUNTIME_DIR"

step "Settings... with the service stopped: it starts and the window shows"
pick 1
if wait_for 30 visible_window "^Settings$"; then
  # The window may show before the daemon answers; it reads the settings once the
  # application sees the daemon alive.
  sleep 6
  shot 05-settings
  w="$(xdotool search --onlyvisible --name '^Settings$' | head -1)"
  eval "$(xdotool getwindowgeometry --shell "$w")"
  [[ "$WIDTH" == 700 && "$HEIGHT" == 640 ]] || fail "the settings window is ${WIDTH}x${HEIGHT}, not 700x640"
  # "Check Now" sits at the same place in every 700x640 window: the updates alert.
  xdotool mousemove --window "$w" 624 113 click 1
  if wait_for 15 visible_window "Software Updates"; then
    sleep 1
    shot 06-updates
    xdotool key Return
  else
    fail "Check Now did not show the updates alert"
  fi
  xdotool key ctrl+w
else
  fail "the settings window did not show"
fi
wait_for 60 daemon_runs || fail "Settings... did not start the daemon"

step "Quit from the menu stops the service"
open_menu && xdotool key Up Return && wait_menu_gone  # the last item
wait_for 60 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "the app did not quit"
app_pid=""
wait_for 60 daemon_gone || fail "the daemon still runs after Quit"

step "offscreen, no tray: the app runs, starts the daemon, and stops it on SIGTERM"
QT_QPA_PLATFORM=offscreen "$build/bin/QuarvelDorarov" >"$home/off.out" 2>"$home/off.err" &
app_pid=$!
wait_for 60 grep -q "the daemon is running" "$home/off.err" || fail "offscreen: the daemon did not come up"
grep -q "no system tray" "$home/off.err" || fail "offscreen: the missing tray was not logged"
kill -TERM "$app_pid"
wait "$app_pid"
app_pid=""
wait_for 60 daemon_gone || fail "offscreen: the daemon still runs after SIGTERM"

ls "$out"/*.png
((failures == 0)) && echo "all steps held" || echo "$failures step(s) failed"
exit $((failures > 0))

#!/usr/bin/env bash
# scripts/app-firstrun.sh <dir>: the tray application's first run, under xvfb, in a fresh
# HOME each time; screenshots go to <dir>. Exit status 0 when every step held.
#   1. systemd: a recording fake `systemctl` first on PATH, whose service is active once it
#      was started. The first-run dialog is shown; "Install" writes a unit that
#      `systemd-analyze --user verify` accepts, the service is started with daemon-reload,
#      then start, and "Installation Complete" follows once it runs.
#   2. fallback: a `systemctl` that answers nothing. The application starts the real daemon
#      detached and reaches it; SIGTERM to the application leaves no daemon and no socket.
# Needs a built tree (QD_BUILD_DIR, default build/test) with QuarvelDorarov and screen_grab,
# and xvfb-run, xdotool and systemd-analyze.
set -uo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 <dir>" >&2; exit 2; }
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QD_BUILD_DIR:-$root/build/test}"
mkdir -p "$1"
out="$(cd "$1" && pwd)"
if [[ -z "${QD_FIRSTRUN_UNDER_XVFB:-}" ]]; then
  QD_FIRSTRUN_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$out"
fi

app="$build/bin/QuarvelDorarov"
daemon="$build/bin/QuarvelDorarovDaemon"
grab="$build/tests/fixtures/screen_grab"
unit_name=vir.izerorudidodad.udodaz.service
failures=0
ok() { echo "ok: $*"; }
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# wait_for <seconds> <command...>: polls the command until it succeeds.
wait_for() {
  local end=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS >= end)) && return 1
    sleep 0.2
  done
}

fresh_home() {
  home="$(mktemp -d /tmp/qd-firstrun-XXXXXX)"
  export HOME="$home" XDG_DATA_HOME="$home/data" XDG_STATE_HOME="$home/state" XDG_CONFIG_HOME="$home/config"
  export XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/run"
  export TINDERBOX_DISABLE=1 TINDERBOX_DISABLE_APP_LAUNCH=1
  mkdir -p "$XDG_RUNTIME_DIR" "$home/fakes" && chmod 700 "$XDG_RUNTIME_DIR"
  unit="$XDG_CONFIG_HOME/systemd/user/$unit_name"
}

# The visible message box with this window title, answered with Return after a screenshot.
answer_dialog() {  # <title> <png>
  local window
  if ! wait_for 60 xdotool search --onlyvisible --name "^$1\$"; then
    fail "no window \"$1\""
    return 1
  fi
  window="$(xdotool search --onlyvisible --name "^$1\$" | head -n1)"
  sleep 1  # let it paint before the screenshot
  "$grab" "$out/$2" && ok "screenshot $2" || fail "screenshot $2"
  xdotool windowfocus "$window" 2>/dev/null
  xdotool key Return
  wait_for 30 bash -c "! xdotool search --onlyvisible --name '^$1\$'" || fail "\"$1\" did not close"
}

stop_app() {  # <pid>
  kill -TERM "$1" 2>/dev/null
  local end=$((SECONDS + 90))
  while kill -0 "$1" 2>/dev/null; do
    ((SECONDS >= end)) && { fail "the application did not quit on SIGTERM"; kill -KILL "$1"; break; }
    sleep 0.2
  done
  wait "$1" 2>/dev/null
}

daemon_pid() {
  grep -o '"daemonPid": *[0-9]*' "$XDG_DATA_HOME/QuarvelDorarov/health.json" 2>/dev/null | grep -o '[0-9]*$'
}
runs_daemon() { [[ "$(readlink "/proc/$1/exe" 2>/dev/null)" == "$(readlink -f "$daemon")" ]]; }
socket_answers() {
  python3 -c 'import socket,sys; s=socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])' \
    "$XDG_DATA_HOME/QuarvelDorarov/daemon.sock"
}

# --- 1. systemd, through a recording fake -------------------------------------------------
fresh_home
cat >"$home/fakes/systemctl" <<FAKE
#!/bin/sh
echo "\$*" >> "$home/systemctl.log"
case "\$*" in
  *is-system-running*) echo running ;;
  *is-active*) grep -q -- "--user start" "$home/systemctl.log" && { echo active; exit 0; }; echo inactive; exit 3 ;;
esac
exit 0
FAKE
chmod +x "$home/fakes/systemctl"
PATH="$home/fakes:$PATH" "$app" >"$home/app.log" 2>&1 &
app_pid=$!
answer_dialog "Quarvel Dorarov" firstrun-systemd-dialog.png
answer_dialog "Installation Complete" firstrun-systemd-installed.png
if [[ -f "$unit" ]] && systemd-analyze --user verify "$unit"; then
  ok "systemd-analyze --user verify accepts $unit"
else
  fail "no valid unit at $unit"
fi
wait_for 60 grep -q -- "--user start $unit_name" "$home/systemctl.log"
sequence="$(grep -v -e is-active -e is-system-running -e '--user stop' "$home/systemctl.log" | tr '\n' ';')"
if [[ "$sequence" == "--user daemon-reload;--user start $unit_name;" ]]; then
  ok "systemctl was asked daemon-reload, then start"
else
  fail "systemctl sequence: $sequence"
fi
stop_app "$app_pid"
tail -n1 "$home/systemctl.log" | grep -q -- "--user stop $unit_name" && ok "quitting stops the service" ||
  fail "quitting did not stop the service"
cp "$home/systemctl.log" "$out/systemctl-recorded.log"
rm -rf "$home"

# --- 2. no user systemd: the detached daemon ----------------------------------------------
fresh_home
printf '#!/bin/sh\nexit 1\n' >"$home/fakes/systemctl"
chmod +x "$home/fakes/systemctl"
PATH="$home/fakes:$PATH" "$app" >"$home/app.log" 2>&1 &
app_pid=$!
answer_dialog "Quarvel Dorarov" firstrun-fallback-dialog.png
answer_dialog "Installation Complete" firstrun-fallback-installed.png
if wait_for 60 bash -c "pid=\$(grep -o '\"daemonPid\": *[0-9]*' '$XDG_DATA_HOME/QuarvelDorarov/health.json' | grep -o '[0-9]*\$'); [[ \$(readlink /proc/\$pid/exe) == '$(readlink -f "$daemon")' ]]" &&
  wait_for 60 socket_answers; then
  pid="$(daemon_pid)"
  ok "the application started the daemon (process $pid) and it answers on its socket"
  [[ "$(ps -o sid= -p "$pid" | tr -d ' ')" == "$pid" ]] && ok "the daemon runs in a session of its own" ||
    fail "the daemon is not detached"
  "$grab" "$out/firstrun-fallback-running.png" || true
  stop_app "$app_pid"
  if runs_daemon "$pid"; then fail "the daemon outlived the application"; else ok "no daemon after SIGTERM"; fi
  [[ -e "$XDG_DATA_HOME/QuarvelDorarov/daemon.sock" ]] && fail "daemon.sock left behind" || ok "no socket left"
else
  fail "no daemon started: $(cat "$home/app.log")"
  stop_app "$app_pid"
fi
pid="$(daemon_pid)"; [[ -n "$pid" ]] && runs_daemon "$pid" && kill -KILL "$pid"
rm -rf "$home"

echo "$failures failed step(s)"
((failures == 0))

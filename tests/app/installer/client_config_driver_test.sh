#!/usr/bin/env bash
# Drives client-config-driver on copies of tests/fixtures/client-configs in a temporary HOME:
# install changes only our entries and keeps the mode, a second install writes nothing,
# removal gives the user's content back, odd files are refused unchanged, links stay links.
set -euo pipefail
driver="$1"
fixtures="$2"

work="$(mktemp -d /tmp/qd-driver-XXXXXX)"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
app="$work/prefix/bin"
mkdir -p "$app" "$HOME/.codex" "$HOME/.gemini" "$HOME/.factory" "$HOME/dotfiles" \
         "$XDG_CONFIG_HOME/Claude" "$XDG_CONFIG_HOME/opencode"
printf '#!/bin/sh\n' > "$app/QuarvelDorarovDaemon"
chmod 755 "$app/QuarvelDorarovDaemon"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
run() { "$driver" --app-folder "$app" "$@"; }
state() { stat -L -c '%a %i %h %s %Y' "$1"; }

declare -A path=(
  [claude_code]="$HOME/.claude.json"
  [claude_desktop]="$XDG_CONFIG_HOME/Claude/claude_desktop_config.json"
  [codex]="$HOME/.codex/config.toml"
  [gemini]="$HOME/.gemini/settings.json"
  [droid]="$HOME/.factory/mcp.json"
  [opencode]="$XDG_CONFIG_HOME/opencode/opencode.json"
)
declare -A fixture=(
  [claude_code]=claude.json [claude_desktop]=claude_desktop_config.json [codex]=config.toml
  [gemini]=settings.json [droid]=mcp.json [opencode]=opencode.json
)

place() {  # the pristine copies; config.toml lives in a dotfiles folder behind a link
  for key in "${!path[@]}"; do rm -f "${path[$key]}"; done
  for key in claude_code claude_desktop gemini droid opencode; do cp "$fixtures/${fixture[$key]}" "${path[$key]}"; done
  chmod 600 "${path[claude_code]}"
  cp "$fixtures/config.toml" "$HOME/dotfiles/config.toml"
  ln -s "$HOME/dotfiles/config.toml" "${path[codex]}"
}

# Parsed JSON of a file without our five entries (and the legacy one), keys sorted.
withoutOurs() {
  node -e '
    const fs = require("fs");
    const ours = ["tinderbox", "router-core", "tbx-nav", "tbx-doc", "tbx-export", "quarvel-toolbox"];
    const c = JSON.parse(fs.readFileSync(process.argv[1], "utf8"));
    for (const k of ["mcpServers", "mcp"]) {
      if (c[k]) { for (const n of ours) delete c[k][n]; if (Object.keys(c[k]).length === 0) delete c[k]; }
    }
    const sort = v => Array.isArray(v) ? v.map(sort) : v && typeof v === "object"
      ? Object.fromEntries(Object.keys(v).sort().map(k => [k, sort(v[k])])) : v;
    process.stdout.write(JSON.stringify(sort(c)));' "$1"
}
nonBlank() { tr -d '\r' < "$1" | grep -v '^[[:space:]]*$' || true; }

place
for key in claude_code claude_desktop codex gemini droid opencode; do
  file="${path[$key]}"
  mode_before="$(stat -L -c %a "$file")"
  [[ "$key" == codex ]] || expected="$(withoutOurs "$file")"
  run install "$key" > "$work/out" || { fail "install $key"; cat "$work/out" >&2; continue; }
  [[ "$(stat -L -c %a "$file")" == "$mode_before" ]] || fail "install $key changed the mode"
  [[ "$(run detect "$key")" == installed ]] || fail "detect $key after install"
  if [[ "$key" == codex ]]; then
    [[ -L "$file" ]] || fail "config.toml is no longer a link"
    grep -q '^\[mcp_servers.tinderbox\]$' "$file" || fail "codex: no section of ours"
  else
    [[ "$(withoutOurs "$file")" == "$expected" ]] || fail "install $key changed more than our entries"
  fi
  before="$(state "$file")"; sum="$(sha256sum < "$file")"
  run install "$key" > /dev/null || fail "second install $key"
  [[ "$(state "$file")" == "$before" && "$(sha256sum < "$file")" == "$sum" ]] || fail "second install $key wrote"
  run remove "$key" > "$work/out" || { fail "remove $key"; cat "$work/out" >&2; }
  grep -q '^\[info\] Removal Complete$' "$work/out" || fail "remove $key: no removal alert"
  if [[ "$key" == codex ]]; then
    [[ -L "$file" ]] || fail "config.toml is no longer a link after removal"
    diff <(nonBlank "$fixtures/config.toml") <(nonBlank "$file") || fail "codex removal lost lines"
  else
    [[ "$(withoutOurs "$file")" == "$expected" ]] || fail "remove $key changed more than our entries"
  fi
  [[ "$(run detect "$key")" == "not installed" ]] || fail "detect $key after removal"
done
[[ "$(node -e 'console.log(JSON.parse(require("fs").readFileSync(process.argv[1])).length)' \
      "$XDG_DATA_HOME/QuarvelDorarov/client-installs.json")" == 0 ]] || fail "ledger rows left after removal"

# Odd files: refused, unchanged (bytes and stat), nothing in the ledger.
place
ledger="$XDG_DATA_HOME/QuarvelDorarov/client-installs.json"
ledger_before="$(cat "$ledger")"
for odd in "$fixtures"/odd/*; do
  case "$odd" in
    *.toml) keys="codex" ;;
    *servers-not-object*) keys="claude_code codex" ;;  # OpenCode's servers live under "mcp"
    *) keys="claude_code opencode codex" ;;
  esac
  for key in $keys; do
    file="${path[$key]}"
    rm -f "$file"; cp "$odd" "$file"
    before="$(state "$file")"
    for op in install remove; do
      if run "$op" "$key" > "$work/out"; then fail "$op $key accepted odd file $(basename "$odd")"; fi
      grep -q '^\[warning\] Installation Failed$' "$work/out" || fail "$op $key $(basename "$odd"): no alert"
      cmp -s "$odd" "$file" || fail "$op $key changed odd file $(basename "$odd")"
      [[ "$(state "$file")" == "$before" ]] || fail "$op $key touched odd file $(basename "$odd")"
    done
    run evict > /dev/null
    cmp -s "$odd" "$file" || fail "evict changed odd file $(basename "$odd")"
  done
done
[[ "$(cat "$ledger")" == "$ledger_before" ]] || fail "the ledger changed on refusals"

# A FIFO in the file's place is refused without blocking.
rm -f "${path[gemini]}"; mkfifo "${path[gemini]}"
if run install gemini > "$work/out"; then fail "install into a FIFO"; fi
grep -q 'not a regular file' "$work/out" || fail "FIFO refusal does not say why"

# Eviction at launch: the foreign entry beside ours goes, the alert comes once per version.
place
run install claude_code > /dev/null
node -e '
  const fs = require("fs"); const p = process.argv[1];
  const c = JSON.parse(fs.readFileSync(p, "utf8")); c.mcpServers.tinderbox = {command: "/opt/Tinderbox/mcp"};
  fs.writeFileSync(p, JSON.stringify(c));' "${path[claude_code]}"
run evict > "$work/out"
grep -q '^\[info\] Tinderbox MCP Conflict Removed$' "$work/out" || fail "evict: no alert"
grep -qF "• ${path[claude_code]}" "$work/out" || fail "evict: path not listed"
[[ "$(stat -c %a "${path[claude_code]}")" == 600 ]] || fail "evict changed the mode"
grep -q '/opt/Tinderbox/mcp' "${path[claude_code]}" && fail "evict left the foreign entry"
node -e '
  const fs = require("fs"); const p = process.argv[1];
  const c = JSON.parse(fs.readFileSync(p, "utf8")); c.mcpServers.tinderbox = {command: "/opt/Tinderbox/mcp"};
  fs.writeFileSync(p, JSON.stringify(c));' "${path[claude_code]}"
run evict > "$work/out"
[[ ! -s "$work/out" ]] || fail "evict alerted twice for one version"

if (( failures > 0 )); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "client-config-driver: all checks passed"

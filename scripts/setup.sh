#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages.txt. Idempotent and quiet
# when everything is already there; runs apt-get only for what is missing.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

missing=()
while read -r pkg; do
  [[ -z "$pkg" || "$pkg" == \#* ]] && continue
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done < "$here/packages.txt"

# node and npm may come from outside Debian's packages; accept them when present.
if command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1; then
  filtered=()
  for pkg in "${missing[@]}"; do
    [[ "$pkg" == nodejs || "$pkg" == npm ]] || filtered+=("$pkg")
  done
  missing=("${filtered[@]+"${filtered[@]}"}")
fi

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

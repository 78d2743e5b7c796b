#!/usr/bin/env bash
# Installs the Debian packages listed in the given files when any is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
lists=("$@"); [ ${#lists[@]} -gt 0 ] || lists=("$here/packages.txt")
want=$(cat "${lists[@]}" | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for p in $want; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/bin/sh
# Installs every Debian package listed in tools/packages.txt that is missing.
set -eu
here=$(dirname "$0")
missing=""
for p in $(sed -e 's/#.*//' "$here/packages.txt"); do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq || true
$SUDO apt-get install -y -qq --no-install-recommends $missing

#!/usr/bin/env bash
# Puts real photos from Debian's python3-skimage into DIR (NAME.png each), downloading
# and unpacking the package once, not installing it (that would pull in its whole
# dependency tree). Photos already in DIR are kept.
# Usage: scripts/fetch-photos.sh DIR NAME...
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 DIR NAME..." >&2
  exit 2
fi
dir=$1
shift

missing=0
for p in "$@"; do
  [ -f "$dir/$p.png" ] || missing=1
done
[ $missing -eq 1 ] || exit 0

mkdir -p "$dir"
fetch=$(mktemp -d "$dir/.fetch.XXXXXX")
trap 'rm -rf "$fetch"' EXIT
apt_opts=(-q)
# As root apt would hand the download to its sandbox user, who cannot write here.
[ "$(id -u)" -eq 0 ] && apt_opts+=(-o APT::Sandbox::User=root)
if ! (cd "$fetch" && apt-get download "${apt_opts[@]}" python3-skimage >/dev/null); then
  if [ "$(id -u)" -ne 0 ]; then
    echo "fetch-photos: cannot download python3-skimage; run apt-get update as root" >&2
    exit 1
  fi
  apt-get update -q >/dev/null
  (cd "$fetch" && apt-get download "${apt_opts[@]}" python3-skimage >/dev/null)
fi
dpkg-deb -x "$fetch"/python3-skimage_*.deb "$fetch/x"
data=$(find "$fetch/x" -type d -path '*/skimage/data' | head -n 1)
for p in "$@"; do
  cp "$data/$p.png" "$dir/$p.png"
done

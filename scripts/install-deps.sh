#!/usr/bin/env bash
# Installs the Debian packages that building and testing Korvala needs, only those missing.
set -euo pipefail

packages=(
  g++ make cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  imagemagick python3-pil
  libcli11-dev
  libjpeg62-turbo-dev libpng-dev zlib1g-dev
  libjpeg-turbo-progs netpbm libtiff-tools
  libbenchmark-dev
)

# `--fuzz`: also what the libFuzzer targets need; `--bench`: also the peers that
# bench/peers.sh times against.
case "${1:-}" in
  --fuzz) packages+=(clang libclang-rt-14-dev) ;;
  --bench) packages+=(libvips-tools time) ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg -s "$p" >/dev/null 2>&1; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Korvala needs these Debian packages: ${missing[*]}" >&2
  echo "Install them as root with:" >&2
  echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"

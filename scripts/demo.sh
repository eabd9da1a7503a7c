#!/usr/bin/env bash
# Shrinks a real photo into each family of colour formats under demo-out/ and lists
# what it wrote. The photo (chelsea.png, 451 x 300) comes from Debian's python3-skimage,
# fetched once into build/demo-src by scripts/fetch-photos.sh.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
src=build/demo-src
out=demo-out
photo=$src/chelsea.png

scripts/fetch-photos.sh "$src" chelsea

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVALA_TESTS=OFF >/dev/null
cmake --build build/release --target korvala-cli >/dev/null
cli=build/release/cli/korvala-cli

rm -rf "$out"
mkdir -p "$out"
# Half size: 451 is one more than twice 225, so interference minimising drops the last
# column and the width shrinks exactly 2:1.
"$cli" shrink "$photo" -o "$out/chelsea-truecolor.png" --colors truecolor
"$cli" shrink "$photo" -o "$out/chelsea-optimized8.png" --colors optimized8
"$cli" shrink "$photo" -o "$out/chelsea-special216.png" --colors special216
"$cli" shrink "$photo" -o "$out/chelsea-gray16.png" --colors gray16
"$cli" shrink "$photo" -o "$out/chelsea-bw.png" --colors bw
# One more with the border and a size in pixels.
"$cli" shrink "$photo" -o "$out/chelsea-oval.jpg" --width 300 --border oval --border-width 25 --sharpen 80

echo "Wrote, from $photo:"
"$cli" info "$out"/*

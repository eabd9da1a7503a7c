#!/usr/bin/env bash
# Times `korvala-cli shrink` against ImageMagick, libvips and Pillow doing the same work
# on a 6000 x 4000 photo, side by side in one run:
#   (a) precise 4:1 shrink, no sharpening, true colour, written uncompressed
#       (BMP; libvips writes PPM, as it has no BMP writer);
#   (b) the same mapped to an optimized 256-colour palette with Floyd-Steinberg
#       dithering, written as 8-bit BMP (libvips: palette PNG without compression);
# each once from a JPEG source and once from PPM in and out, so the processing is also
# compared without the JPEG codec. Every peer does the full work: the JPEG is decoded
# at full size (no shrink-on-load), and the 4:1 shrink is each tool's box average.
# Prints per tool the median wall time, the median CPU time (user + system; libvips
# uses every core) and the peak memory, and Korvala's wall time as a ratio to the
# fastest peer. Not part of `make test`.
# Usage: bench/peers.sh [RUNS]   (default 5 runs per tool and job)
set -euo pipefail

runs=${1:-5}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/install-deps.sh --bench

build=build/bench
cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVALA_BENCH=ON -DKORVALA_TESTS=OFF >/dev/null
cmake --build $build --target korvala-cli >/dev/null
kv=$root/$build/cli/korvala-cli
im=convert-im6.q16
py=/usr/bin/python3  # the system one: it is the one with Pillow

work=$root/build/peers
mkdir -p "$work"
scripts/fetch-photos.sh "$work/src" coffee
src_jpg=$work/source.jpg
src_ppm=$work/source.ppm
if [ ! -f "$src_jpg" ] || [ ! -f "$src_ppm" ]; then
  $im "$work/src/coffee.png" -filter Lanczos -resize '6000x4000!' -quality 92 "$src_jpg"
  $im "$src_jpg" "$src_ppm"
fi

pillow_a='import sys
from PIL import Image
Image.open(sys.argv[1]).reduce(4).save(sys.argv[2])'
pillow_b='import sys
from PIL import Image
im = Image.open(sys.argv[1]).reduce(4).quantize(256, dither=Image.Dither.FLOYDSTEINBERG)
im.save(sys.argv[2]) if sys.argv[2].endswith(".bmp") else im.convert("RGB").save(sys.argv[2])'

kv_common=(-q --width 25% --precision precise --sharpen 0 --border none)

# Command of TOOL for JOB (a or b) from IN to OUT_BASE.<ext>; prints nothing and fails
# when the tool cannot do the job.
command_of() {
  local tool=$1 job=$2 in=$3 out=$4 ext=$5
  # Uncompressed BMP of the classic kind, binary PPM.
  local kv_out=(-o "$out.$ext" --pxm-binary on) im_out=("$out.$ext")
  [ "$ext" = bmp ] && im_out=(-type "$([ "$job" = a ] && echo TrueColor || echo Palette)" -compress none "bmp3:$out.$ext")
  case "$tool/$job" in
    korvala/a) cmd=("$kv" shrink "$in" "${kv_out[@]}" "${kv_common[@]}" --colors truecolor) ;;
    korvala/b) cmd=("$kv" shrink "$in" "${kv_out[@]}" "${kv_common[@]}" --colors optimized8 --optimized-size 256
                    --optimized-include-sys off --dither on) ;;
    imagemagick/a) cmd=($im "$in" -scale 25% "${im_out[@]}") ;;
    imagemagick/b) cmd=($im "$in" -scale 25% -dither FloydSteinberg -colors 256 "${im_out[@]}") ;;
    libvips/a) cmd=(vips shrink "$in" "$out.ppm" 4 4) ;;
    libvips/b) [ "$ext" = bmp ] || return 1
               cmd=(vips shrink "$in" "$out.png[palette,Q=100,dither=1,compression=0]" 4 4) ;;
    pillow/a) cmd=("$py" -c "$pillow_a" "$in" "$out.$ext") ;;
    pillow/b) cmd=("$py" -c "$pillow_b" "$in" "$out.$ext") ;;
  esac
}

median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.2f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One row per tool: median wall seconds, median CPU seconds, peak resident MB.
time_job() {
  local job=$1 in=$2 ext=$3 label=$4
  local fastest_peer="" kv_wall=""
  local rows=()
  for tool in korvala imagemagick libvips pillow; do
    if ! command_of "$tool" "$job" "$in" "$work/out-$tool-$job" "$ext"; then
      rows+=("| $label | $tool | n/a | | |")
      continue
    fi
    local walls=() cpus=() peak=0
    for ((r = 0; r < runs; r++)); do
      /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "${cmd[@]}" >/dev/null 2>"$work/err.txt" || {
        echo "$tool failed on job $job ($label):" >&2
        cat "$work/err.txt" >&2
        exit 1
      }
      read -r wall user sys rss <"$work/time.txt"
      walls+=("$wall")
      cpus+=("$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')")
      [ "$rss" -gt "$peak" ] && peak=$rss
    done
    local w c
    w=$(printf '%s\n' "${walls[@]}" | median)
    c=$(printf '%s\n' "${cpus[@]}" | median)
    if [ "$tool" = korvala ]; then
      kv_wall=$w
    elif [ -z "$fastest_peer" ] || awk -v a="$w" -v b="$fastest_peer" 'BEGIN { exit !(a < b) }'; then
      fastest_peer=$w
    fi
    rows+=("| $label | $tool | $w | $c | $((peak / 1024)) |")
  done
  printf '%s\n' "${rows[@]}"
  echo "| $label | korvala / fastest peer | $(awk -v a="$kv_wall" -v b="$fastest_peer" 'BEGIN { printf "%.2f", a / b }') | | |"
}

echo "Source: 6000 x 4000 photo; $runs runs per tool; $(nproc) cores; $(lscpu | sed -n 's/^Model name: *//p')"
echo "Memory budget for Korvala: decoded source 72 MB + two 1500 x 1000 results 9 MB = 81 MB"
echo
echo "| job | tool | wall s (median) | CPU s (median) | peak MB |"
echo "|---|---|---|---|---|"
time_job a "$src_jpg" bmp "(a) JPEG → true colour BMP"
time_job b "$src_jpg" bmp "(b) JPEG → optimized 256 FS BMP"
time_job a "$src_ppm" ppm "(a) PPM → true colour PPM"
time_job b "$src_ppm" ppm "(b) PPM → optimized 256 FS PPM"

#!/usr/bin/env bash
# Builds the codec test corpus in OUTDIR from real photos, one folder per format:
#   OUTDIR/<format>/NAME.<ext> + NAME.ppm   (reference pixels, binary P6, top row first)
#   OUTDIR/<format>/reject/NAME.<ext>       (files our reader must refuse)
# Each format's files are written or checked by peer tools (scripts/corpus/README.md).
# Quick when nothing changed: OUTDIR/.stamp holds the hashes of this script and its
# generators, and a matching stamp means the corpus is current. Delete it to rebuild.
# Needs the packages of scripts/install-deps.sh, plus one download of python3-skimage
# (for its photos only; it is unpacked, not installed) that is kept in OUTDIR/src.
set -euo pipefail

if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# One generator per format: scripts/corpus/<format>_variants.py PHOTO_DIR OUT_DIR.
formats=(bmp jpeg png pnm tga pcx tiff)
helpers=()
for f in "${formats[@]}"; do helpers+=("corpus/${f}_variants.py"); done
mkdir -p "$1"
out=$(cd "$1" && pwd)

# Hashes by name relative to scripts/, so the stamp survives a checkout elsewhere.
want_stamp=$(cd "$here" && sha256sum make-test-corpus.sh fetch-photos.sh corpus/corpus_common.py "${helpers[@]}")
if [ -f "$out/.stamp" ] && [ "$(cat "$out/.stamp")" = "$want_stamp" ]; then
  exit 0
fi
rm -f "$out/.stamp"

py=/usr/bin/python3  # the system one: it is the one with Pillow
if ! command -v convert-im6.q16 >/dev/null || ! "$py" -c 'import PIL' 2>/dev/null; then
  echo "make-test-corpus: ImageMagick or Pillow missing; run scripts/install-deps.sh" >&2
  exit 1
fi

photos=(chelsea coffee astronaut camera page)
src=$out/src
"$here/fetch-photos.sh" "$src" "${photos[@]}"

# Each set is built beside the old one and swapped in whole, so a failed run leaves no
# half set.
for f in "${formats[@]}"; do
  rm -rf "$out/.$f.new"
  "$py" "$here/corpus/${f}_variants.py" "$src" "$out/.$f.new"
  rm -rf "${out:?}/$f"
  mv "$out/.$f.new" "$out/$f"
done
echo "$want_stamp" >"$out/.stamp"

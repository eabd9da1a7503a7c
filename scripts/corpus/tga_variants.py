#!/usr/bin/python3
"""Writes the TGA codec test corpus: NAME.tga plus NAME.ppm (reference pixels) per variant.

Usage: tga_variants.py PHOTO_DIR OUT_DIR

PHOTO_DIR holds the source photos (chelsea.png, coffee.png, astronaut.png, camera.png,
page.png). Every file is written by a peer tool or crafted here from pixels Pillow decoded.
The reference is what the peer that reads that kind of file right decodes from the finished
file, and crafted pixels must match it. Every other peer must agree unless a known fault
of it is named for the file. 16-bit colours are the exception: peers widen 5-bit channels
their own way, so their reference applies our reader's rule (value x 8) to the raw words,
and every peer must read the same raw values. OUT_DIR/reject/ holds files our reader must
refuse.

Variants (tN = image type N): Pillow writes types 1, 2, 3, 9, 10, 11 with 24-bit map
entries and 8, 24, 32 bits, bottom-left or top-left (reference Pillow). Crafted here: the
two right-to-left orders (Pillow), run-length packets of both kinds across row ends
(netpbm), 32-bit map entries (netpbm), 16-bit map entries and 16-bit pixels with the
attribute bit set (our rule), maps whose first index is 16 or 200 (Pillow), a 40-byte ID
field with a map beside 24-bit pixels (netpbm). Rejects: netpbm's -cmap16 files (15-bit
entries), 15- and 12-bit pixels.

Peer faults that decide the reference (each named per file and printed as a note):
ImageMagick ignores the origin bits and takes a map beside true-colour pixels for pixels;
netpbm ignores right-to-left; Pillow 9.4 refuses run packets that cross a row end (raw
ones it reads), cannot read 32-bit map entries nor a true-colour file with a map.

Called by scripts/make-test-corpus.sh.
"""
import os
import struct
import sys

from PIL import Image, ImageOps

from corpus_common import CorpusError, decode_im, decode_pil, diff_count, generator_main, indices_of, palette_of, read_pnm, run, write_ppm

BOTTOM_LEFT, BOTTOM_RIGHT, TOP_LEFT, TOP_RIGHT = 0x00, 0x10, 0x20, 0x30

notes = []  # expected peer disagreements, for the summary

# ---------------------------------------------------------------- peers

PEER_NAMES = {"pil": "Pillow", "im": "ImageMagick", "pnm": "netpbm"}


def decode_pnm(path):
    """netpbm's decoding, in RGB."""
    return read_pnm(run(["tgatoppm", path], what=path), path)


# A file whose ID field happens to look like a bitmap header is sniffed as one by
# ImageMagick, so the coder is named.
DECODERS = {"pil": decode_pil, "im": lambda p: decode_im("tga:" + p), "pnm": decode_pnm}

ORIGIN_FAULT_IM = "ImageMagick ignores the origin bits"
ORIGIN_FAULT_PNM = "netpbm ignores right-to-left"
CROSS_ROW_FAULT_PIL = "Pillow refuses run packets (not raw ones) that cross a row end"
MAP32_FAULT_PIL = "Pillow cannot read 32-bit colour-map entries"
UNUSED_MAP_FAULT_PIL = "Pillow cannot read a true-colour file that carries a colour map"
UNUSED_MAP_FAULT_IM = "ImageMagick takes the colour map beside true-colour pixels for pixels"


def origin_faults(descriptor):
    f = {}
    if descriptor != TOP_LEFT:
        f["im"] = ORIGIN_FAULT_IM
    if descriptor & 0x10:
        f["pnm"] = ORIGIN_FAULT_PNM
    return f


# ---------------------------------------------------------------- crafting

def header(width, height, depth, image_type, descriptor=BOTTOM_LEFT, map_type=0,
           map_first=0, map_length=0, map_entry=0, id_field=b""):
    return struct.pack("<BBBHHBHHHHBB", len(id_field), map_type, image_type, map_first,
                       map_length, map_entry, 0, 0, width, height, depth,
                       descriptor) + id_field


def file_order(rows, descriptor):
    """rows: top row first, each a list of pixel values; the order the file stores them."""
    ordered = rows if descriptor & 0x20 else rows[::-1]
    return [r[::-1] if descriptor & 0x10 else r for r in ordered]


def rle_encode(pixels):
    """Greedy run-length packets over the whole pixel sequence (bytes per pixel), so
    packets cross row ends; returns the data and the packets as (first pixel, count,
    is a run)."""
    out = bytearray()
    packets = []

    def run_at(k):
        n = 1
        while k + n < len(pixels) and n < 128 and pixels[k + n] == pixels[k]:
            n += 1
        return n

    i = 0
    while i < len(pixels):
        n = run_at(i)
        if n >= 2:
            out += bytes([0x80 | (n - 1)]) + pixels[i]
            packets.append((i, n, True))
        else:
            n = 1
            while i + n < len(pixels) and n < 128 and run_at(i + n) < 2:
                n += 1
            out += bytes([n - 1]) + b"".join(pixels[i:i + n])
            packets.append((i, n, False))
        i += n
    return bytes(out), packets


def check_crossing(path, packets, width):
    """Insists on run and raw packets that cross a row end."""
    crossing = [run for first, n, run in packets if first // width != (first + n - 1) // width]
    if not any(crossing) or all(crossing):
        raise CorpusError("%s: wants both kinds of packet across a row end, has %d runs and %d raw"
                          % (path, sum(crossing), len(crossing) - sum(crossing)))


def pixel_bytes(rows, descriptor, encode):
    return [encode(v) for r in file_order(rows, descriptor) for v in r]


def rgb_rows(img):
    w, h = img.size
    data = list(img.getdata())
    return [data[y * w:(y + 1) * w] for y in range(h)]


def from_rows(rows, colour=lambda v: v):
    im = Image.new("RGB", (len(rows[0]), len(rows)))
    im.putdata([colour(v) for r in rows for v in r])
    return im


def word555(rgb, attribute):
    r, g, b = rgb
    return (r >> 3) << 10 | (g >> 3) << 5 | b >> 3 | (0x8000 if attribute else 0)


def rule555(word):
    """Our reader's colour of a 16-bit word."""
    return ((word >> 10) & 31) * 8, ((word >> 5) & 31) * 8, (word & 31) * 8


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- variants

class Variant:
    """One corpus file.

    make(path) writes the file and returns the pixels it was crafted from (None when a peer
    wrote it), or for ref "ours16" the reference computed by our rule together with the raw
    5-bit channel values every peer must read. known_fault: peer -> why its decode may
    differ (or fail).
    """

    def __init__(self, name, make, ref, known_fault=None, reject=False):
        self.name, self.make, self.ref = name, make, ref
        self.known_fault = known_fault or {}
        self.reject = reject


def variants(ph):
    v = []

    # -- written by Pillow: bottom-left unless asked for top-left
    def pil(img, **opts):
        def make(path):
            img().save(path, **opts)
        return make

    for name, img, opts in (
            ("t1_cmap24_67x45", lambda: ph.fit("chelsea", 67, 45).quantize(256), {}),
            ("t1_cmap24_1x1", lambda: ph.fit("coffee", 1, 1).quantize(2), {}),
            ("t9_cmap24_rle_33x21", lambda: ph.fit("coffee", 33, 21).quantize(100), {"rle": True}),
            ("t2_24_67x45", lambda: ph.fit("astronaut", 67, 45), {}),
            ("t2_24_top_33x21", lambda: ph.fit("chelsea", 33, 21), {"orientation": 1}),
            ("t2_24_5x3", lambda: ph.fit("coffee", 5, 3), {}),
            ("t10_24_rle_227x3", lambda: ph.strip("astronaut", 227, 3), {"rle": True}),
            ("t2_32_33x21", lambda: alpha(ph.fit("coffee", 33, 21)), {}),
            ("t10_32_rle_top_67x45", lambda: alpha(ph.fit("chelsea", 67, 45)), {"rle": True, "orientation": 1}),
            ("t3_grey_67x45", lambda: ph.fit("camera", 67, 45).convert("L"), {}),
            ("t11_grey_rle_top_33x21", lambda: ph.part("page", (0, 0, 132, 84), 33, 21).convert("L"),
             {"rle": True, "orientation": 1}),
    ):
        top = opts.get("orientation") == 1
        v.append(Variant(name, pil(img, **opts), "pil",
                         origin_faults(TOP_LEFT if top else BOTTOM_LEFT)))

    # -- the right-to-left orders, which no peer writes
    def direct24(img, descriptor, rle=False):
        def make(path):
            src = img()
            px = pixel_bytes(rgb_rows(src), descriptor, lambda c: bytes((c[2], c[1], c[0])))
            data = rle_encode(px)[0] if rle else b"".join(px)
            write(path, header(src.width, src.height, 24, 10 if rle else 2, descriptor) + data)
            return src
        return make
    v.append(Variant("t2_24_bottomright_33x21", direct24(lambda: ph.fit("coffee", 33, 21), BOTTOM_RIGHT),
                     "pil", origin_faults(BOTTOM_RIGHT)))
    v.append(Variant("t2_24_topright_67x45", direct24(lambda: ph.fit("chelsea", 67, 45), TOP_RIGHT),
                     "pil", origin_faults(TOP_RIGHT)))

    # -- run-length packets across row ends (other writers make them; Pillow does not)
    def cross24(img, descriptor):
        def make(path):
            src = img()
            px = pixel_bytes(rgb_rows(src), descriptor, lambda c: bytes((c[2], c[1], c[0])))
            data, packets = rle_encode(px)
            check_crossing(path, packets, src.width)
            write(path, header(src.width, src.height, 24, 10, descriptor) + data)
            return src
        return make
    v.append(Variant("t10_24_rle_cross_top_67x45",
                     cross24(lambda: ph.fit("camera", 67, 45).quantize(16, dither=Image.Dither.NONE).convert("RGB"),
                             TOP_LEFT),
                     "pnm", {"pil": CROSS_ROW_FAULT_PIL}))

    def cross_mapped(img, colours, descriptor):
        def make(path):
            q = img().quantize(colours, dither=Image.Dither.NONE)
            rows, pal = indices_of(q), palette_of(q, colours)
            data, packets = rle_encode(pixel_bytes(rows, descriptor, lambda i: bytes((i,))))
            check_crossing(path, packets, q.width)
            cmap = b"".join(bytes((b, g, r)) for r, g, b in pal)
            write(path, header(q.width, q.height, 8, 9, descriptor, 1, 0, colours, 24) + cmap + data)
            return from_rows(rows, lambda i: pal[i])
        return make
    v.append(Variant("t9_cmap24_rle_cross_33x21", cross_mapped(lambda: ph.fit("coffee", 33, 21), 8, BOTTOM_LEFT),
                     "pnm", dict(origin_faults(BOTTOM_LEFT), pil=CROSS_ROW_FAULT_PIL)))

    # -- colour maps the peers do not write: 32- and 16-bit entries, a first index not 0
    def mapped(img, colours, entry, first=0, descriptor=TOP_LEFT, rle=False):
        def make(path):
            q = img().quantize(colours)
            rows, pal = indices_of(q), palette_of(q, colours)
            if entry == 32:  # the fourth byte varies and must not matter
                cmap = b"".join(bytes((b, g, r, (17 * i) & 255)) for i, (r, g, b) in enumerate(pal))
            elif entry == 16:
                cmap = b"".join(struct.pack("<H", word555(c, i & 1)) for i, c in enumerate(pal))
            else:
                cmap = b"".join(bytes((b, g, r)) for r, g, b in pal)
            px = pixel_bytes(rows, descriptor, lambda i: bytes((i + first,)))
            data = rle_encode(px)[0] if rle else b"".join(px)
            write(path, header(q.width, q.height, 8, 9 if rle else 1, descriptor, 1, first, colours, entry)
                  + cmap + data)
            if entry == 16:
                ref = from_rows(rows, lambda i: rule555(word555(pal[i], 0)))
                raw = [tuple(c >> 3 for c in pal[i]) for r in rows for i in r]
                return ref, raw
            return from_rows(rows, lambda i: pal[i])
        return make
    v.append(Variant("t1_cmap32_33x21", mapped(lambda: ph.fit("astronaut", 33, 21), 200, 32), "pnm",
                     {"pil": MAP32_FAULT_PIL}))
    v.append(Variant("t9_cmap32_rle_67x45", mapped(lambda: ph.fit("chelsea", 67, 45), 64, 32, rle=True), "pnm",
                     {"pil": MAP32_FAULT_PIL}))
    v.append(Variant("t1_cmap16_67x45", mapped(lambda: ph.fit("coffee", 67, 45), 128, 16), "ours16"))
    v.append(Variant("t1_cmap24_first16_33x21", mapped(lambda: ph.fit("chelsea", 33, 21), 64, 24, first=16),
                     "pil"))
    v.append(Variant("t1_cmap24_first200_bottomleft_67x45",
                     mapped(lambda: ph.fit("astronaut", 67, 45), 56, 24, first=200, descriptor=BOTTOM_LEFT),
                     "pil", origin_faults(BOTTOM_LEFT)))

    # -- 16-bit pixels, the attribute bit set on every other pixel; channels stretched so
    # that 0 and 31 both occur
    def direct16(img, descriptor, rle=False):
        def make(path):
            src = ImageOps.autocontrast(img())
            rows = rgb_rows(src)
            flagged = [[word555(c, (x + y) & 1) for x, c in enumerate(r)] for y, r in enumerate(rows)]
            px = pixel_bytes(flagged, descriptor, lambda w: struct.pack("<H", w))
            data = rle_encode(px)[0] if rle else b"".join(px)
            write(path, header(src.width, src.height, 16, 10 if rle else 2, descriptor) + data)
            return from_rows(flagged, rule555), [tuple(c >> 3 for c in p) for r in rows for p in r]
        return make
    v.append(Variant("t2_16_67x45", direct16(lambda: ph.fit("chelsea", 67, 45), BOTTOM_LEFT), "ours16",
                     origin_faults(BOTTOM_LEFT)))
    v.append(Variant("t10_16_rle_top_33x21", direct16(lambda: ph.fit("coffee", 33, 21), TOP_LEFT, rle=True),
                     "ours16", {"pil": CROSS_ROW_FAULT_PIL}))

    # -- what stands between header and pixels: a 40-byte ID field and a colour map that
    # 24-bit pixels do not use
    def with_id_and_map(path):
        src = ph.fit("astronaut", 33, 21)
        px = pixel_bytes(rgb_rows(src), TOP_LEFT, lambda c: bytes((c[2], c[1], c[0])))
        ident = bytes(range(40))
        cmap = bytes((7 * i) & 255 for i in range(3 * 20))
        write(path, header(src.width, src.height, 24, 2, TOP_LEFT, 1, 0, 20, 24, ident) + cmap + b"".join(px))
        return src
    v.append(Variant("t2_24_id40_unusedmap_33x21", with_id_and_map, "pnm", {"pil": UNUSED_MAP_FAULT_PIL, "im": UNUSED_MAP_FAULT_IM}))

    # -- valid files our reader refuses
    def netpbm_cmap15(path):
        # pamtotga's -cmap16 writes an entry size of 15
        buf = ph.fit("coffee", 33, 21).quantize(64).convert("RGB")
        ppm = b"P6\n%d %d\n255\n" % buf.size + buf.tobytes()
        write(path, run(["pamtotga", "-cmap16", "-norle"], ppm, what=path))
    v.append(Variant("cmap15_netpbm_33x21", netpbm_cmap15, "pnm", reject=True))

    def depth15(path):
        src = ph.fit("chelsea", 33, 21)
        px = pixel_bytes(rgb_rows(src), TOP_LEFT, lambda c: struct.pack("<H", word555(c, 0)))
        write(path, header(src.width, src.height, 15, 2, TOP_LEFT) + b"".join(px))
    v.append(Variant("depth15_33x21", depth15, "pnm", reject=True))

    def depth12(path):
        write(path, header(5, 3, 12, 2, TOP_LEFT) + bytes(30))
    v.append(Variant("depth12_5x3", depth12, None, reject=True))
    return v


def alpha(img):
    """img with an alpha channel that varies, which readers must ignore."""
    a = img.convert("L").point(lambda p: 255 - p)
    out = img.convert("RGBA")
    out.putalpha(a)
    return out


# ---------------------------------------------------------------- driver

def decode_all(path, var):
    decoded = {}
    for peer, decode in DECODERS.items():
        try:
            decoded[peer] = decode(path)
        except Exception as e:  # a peer that cannot read the file at all
            if peer not in var.known_fault and peer == var.ref:
                raise CorpusError("%s: %s cannot read it: %s" % (var.name, PEER_NAMES[peer], e))
            decoded[peer] = None
    return decoded


def build(var, out_dir):
    folder = os.path.join(out_dir, "reject") if var.reject else out_dir
    path = os.path.join(folder, var.name + ".tga")
    crafted = var.make(path)
    if var.reject:
        if var.ref and DECODERS[var.ref](path).size[0] <= 0:
            raise CorpusError("%s: %s cannot read it" % (var.name, PEER_NAMES[var.ref]))
        return
    decoded = decode_all(path, var)
    if var.ref == "ours16":
        ref, raw = crafted
        for peer, img in decoded.items():
            if peer in var.known_fault:
                notes.append("%s: %s (%s)" % (var.name, PEER_NAMES[peer], var.known_fault[peer]))
                continue
            got = [tuple(c >> 3 for c in p) for p in img.getdata()] if img else None
            if img is None or img.size != ref.size or got != raw:
                raise CorpusError("%s: %s reads other channel values than the file holds"
                                  % (var.name, PEER_NAMES[peer]))
    else:
        ref = decoded[var.ref]
        if crafted is not None and diff_count(ref, crafted) != 0:
            raise CorpusError("%s: %s decodes %d pixels other than were crafted"
                              % (var.name, PEER_NAMES[var.ref], diff_count(ref, crafted)))
        for peer, img in decoded.items():
            if peer == var.ref:
                continue
            n = diff_count(ref, img) if img is not None else "all"
            if n and peer not in var.known_fault:
                raise CorpusError("%s: %s and %s disagree on %s pixels"
                                  % (var.name, PEER_NAMES[var.ref], PEER_NAMES[peer], n))
            if peer in var.known_fault:
                notes.append("%s: %s differs on %s of %d pixels (%s)"
                             % (var.name, PEER_NAMES[peer], n if img is not None else "all (no decode)",
                                ref.width * ref.height, var.known_fault[peer]))
    with open(path, "rb") as f:
        w, h = struct.unpack_from("<HH", f.read(18), 12)
    if ref.size != (w, h):
        raise CorpusError("%s: reference is %dx%d" % ((var.name,) + ref.size))
    write_ppm(ref, os.path.join(folder, var.name + ".ppm"))


def build_all(ph, out_dir):
    for var in variants(ph):
        build(var, out_dir)


if __name__ == "__main__":
    sys.exit(generator_main(sys.argv, build_all, notes))

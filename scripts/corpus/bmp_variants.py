#!/usr/bin/python3
"""Writes the BMP codec test corpus: NAME.bmp plus NAME.ppm (reference pixels) per variant.

Usage: bmp_variants.py PHOTO_DIR OUT_DIR

PHOTO_DIR holds the source photos (chelsea.png, coffee.png, astronaut.png, camera.png,
page.png). Every file is written either by a peer tool or crafted here from pixels Pillow
decoded; in both cases the reference is what a peer decodes from the finished file, and the
crafted pixels must match it, so a crafting mistake fails the run instead of ending up in
the references. Each file is also decoded by the other peer, and a disagreement that is not
a known peer fault stops the run. The 16-bit files are the exception: peers widen 5- and
6-bit channels their own way, so their reference applies our reader's rule to the raw
words, and both peers must read the same raw values.

Called by scripts/make-test-corpus.sh; see scripts/corpus/README.md for the variant list.
"""
import io
import os
import struct
import subprocess
import sys

from PIL import Image, ImageOps

from corpus_common import IM, CorpusError, decode_im, decode_pil, diff_count, generator_main, indices_of, palette_of, write_ppm

BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS = 0, 1, 2, 3

notes = []  # peer disagreements that are expected, for the summary


# ---------------------------------------------------------------- peers

DECODERS = {"pil": decode_pil, "im": decode_im}
PEER_NAMES = {"pil": "Pillow", "im": "ImageMagick"}


def im_write(img, coder, path, *args):
    """Lets ImageMagick encode img with its coder ("bmp3", "bmp2", ...).

    A palette image goes over as PNG so that the peer takes its colour map as it is;
    quantising it again in the peer would cost half a second per file.
    """
    buf = io.BytesIO()
    fmt = "png" if img.mode == "P" else "ppm"
    img.save(buf, fmt)
    run = subprocess.run([IM, fmt + ":-", *args, "%s:%s" % (coder, path)],
                         input=buf.getvalue(), capture_output=True)
    if run.returncode != 0:
        raise CorpusError("%s: ImageMagick cannot write it: %s"
                          % (path, run.stderr.decode(errors="replace").strip()))


# ---------------------------------------------------------------- reading headers back

def parse_header(data):
    """The fields the checks look at, from a finished file."""
    if data[:2] != b"BM":
        raise CorpusError("no BM signature")
    off_bits = struct.unpack_from("<I", data, 10)[0]
    size = struct.unpack_from("<I", data, 14)[0]
    h = {"off_bits": off_bits, "header": size}
    if size == 12:
        w, ht, _, bpp = struct.unpack_from("<HHHH", data, 18)
        h.update(width=w, height=ht, bpp=bpp, compression=BI_RGB, clr_used=0)
        h["palette_at"], h["entry"] = 26, 3
    else:
        w, ht, _, bpp, comp, _, _, _, clr = struct.unpack_from("<iiHHIIiiI", data, 18)
        h.update(width=w, height=ht, bpp=bpp, compression=comp, clr_used=clr)
        h["entry"] = 4
        h["palette_at"] = 14 + size + (12 if comp == BI_BITFIELDS and size == 40 else 0)
    if h["bpp"] <= 8:
        n = h["clr_used"] or (1 << h["bpp"])
        at, e = h["palette_at"], h["entry"]
        h["palette"] = [(data[at + i * e + 2], data[at + i * e + 1], data[at + i * e])
                        for i in range(n)]
    return h


# ---------------------------------------------------------------- crafting

def row_stride(width, bpp):
    return (width * bpp + 31) // 32 * 4


def pack_row(values, bpp):
    """values: palette indices (bpp <= 8) or already packed bytes per pixel."""
    if bpp == 8:
        out = bytearray(values)
    elif bpp in (1, 4):
        per = 8 // bpp
        out = bytearray((len(values) + per - 1) // per)
        for i, v in enumerate(values):
            out[i // per] |= v << (8 - bpp * (i % per + 1))
    else:
        out = bytearray(values)
    return out


def pixel_array(rows, width, bpp, top_down=False):
    """rows: top row first, each a list of indices or a bytes-like of packed pixels."""
    stride = row_stride(width, bpp)
    ordered = rows if top_down else rows[::-1]
    out = bytearray()
    for r in ordered:
        packed = pack_row(r, bpp)
        out += packed + bytes(stride - len(packed))
    return bytes(out)


def build_bmp(width, height, bpp, pixels, compression=BI_RGB, palette=None,
              clr_used=0, masks=None):
    """A file with a 40-byte header; masks (if any) follow the header, then the palette."""
    extra = b""
    if masks is not None:
        extra = struct.pack("<3I", *masks)
    pal = b""
    if palette is not None:
        pal = b"".join(struct.pack("<4B", b, g, r, 0) for r, g, b in palette)
    off = 14 + 40 + len(extra) + len(pal)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, compression,
                       len(pixels), 2835, 2835, clr_used, 0)
    head = struct.pack("<2sIHHI", b"BM", off + len(pixels), 0, 0, off)
    return head + info + extra + pal + pixels


def image_from_indices(rows, palette):
    h, w = len(rows), len(rows[0])
    im = Image.new("RGB", (w, h))
    im.putdata([palette[i] for r in rows for i in r])
    return im


# ---- run-length coding

def rle_encode(file_rows, width, bpp, skips):
    """Encodes rows (file order: bottom row first) as RLE8 or RLE4.

    skips maps (x, y) in file order to a delta (dx, dy) taken there. Returns the coded
    bytes, the index rows the decoder must end up with (skipped pixels are left at index
    0 by both peers) and run statistics so the caller can insist on the cases it wants.
    """
    height = len(file_rows)
    expected = [list(r) for r in file_rows]
    for (sx, sy), (dx, dy) in skips.items():
        start, end = sy * width + sx, (sy + dy) * width + sx + dx
        for p in range(start, end):
            expected[p // width][p % width] = 0
    stats = {"odd_absolute": 0, "even_absolute": 0, "runs": 0, "two_colour_runs": 0,
             "deltas": 0}
    out = bytearray()
    x = y = 0
    while y < height:
        if (x, y) in skips:
            dx, dy = skips[(x, y)]
            out += bytes((0, 2, dx, dy))
            stats["deltas"] += 1
            x, y = x + dx, y + dy
            continue
        if x >= width:
            x, y = 0, y + 1
            out += bytes((0, 0)) if y < height else b""
            continue
        end = min([sx for (sx, sy) in skips if sy == y and sx > x] + [width])
        out += _rle_segment(file_rows[y][x:end], bpp, stats)
        x = end
    out += bytes((0, 1))
    return bytes(out), expected, stats


def _run_length(seg, i, bpp):
    """Length of the run starting at i that one coded pair can express."""
    n = 1
    if bpp == 8:
        while i + n < len(seg) and n < 255 and seg[i + n] == seg[i]:
            n += 1
    else:  # a 4-bit run repeats a pair of colours
        while i + n < len(seg) and n < 255 and seg[i + n] == seg[i + n % 2]:
            n += 1
    return n


def _rle_segment(seg, bpp, stats):
    out = bytearray()
    min_run = 3 if bpp == 8 else 4
    i = 0
    while i < len(seg):
        n = _run_length(seg, i, bpp)
        if n >= min_run or len(seg) - i < 3:
            n = min(n, len(seg) - i)
            out += _coded_pair(seg, i, n, bpp, stats)
            i += n
            continue
        j = i
        while j < len(seg) and j - i < 255 and _run_length(seg, j, bpp) < min_run:
            j += 1
        n = j - i
        if n < 3:  # too short for absolute mode: one coded pair per pixel
            for k in range(i, j):
                out += _coded_pair(seg, k, 1, bpp, stats)
            i = j
            continue
        out += bytes((0, n))
        if bpp == 8:
            body = bytes(seg[i:j])
        else:
            body = bytes(pack_row(seg[i:j], 4))
        out += body + bytes(len(body) % 2)
        stats["odd_absolute" if n % 2 else "even_absolute"] += 1
        i = j
    return out


def _coded_pair(seg, i, n, bpp, stats):
    stats["runs"] += 1
    if bpp == 8:
        return bytes((n, seg[i]))
    second = seg[i + 1] if n > 1 else 0
    if n > 2 and second != seg[i]:
        stats["two_colour_runs"] += 1
    return bytes((n, seg[i] << 4 | second))


# ---- 16-bit

def pack16(img, layout):
    """Rows (top row first) of little-endian 16-bit words, channels cut to their width."""
    rb, gb, bb = (5, 5, 5) if layout == "555" else (5, 6, 5)
    rows = []
    for y in range(img.height):
        row = bytearray()
        for x in range(img.width):
            r, g, b = img.getpixel((x, y))
            word = (r >> (8 - rb)) << (gb + bb) | (g >> (8 - gb)) << bb | (b >> (8 - bb))
            row += struct.pack("<H", word)
        rows.append(row)
    return rows


def our_rule(n, bits):
    """Our reader's expansion of an n-bit channel value to 0..255."""
    if n == 0:
        return 0
    return min(255, (n + 1) << (8 - bits))


def reference16(data, hdr):
    """Reference pixels and raw channel values of a 16-bit file, taken from its words."""
    if hdr["compression"] == BI_BITFIELDS:
        masks = struct.unpack_from("<3I", data, 14 + hdr["header"])
    else:
        masks = (0x7C00, 0x03E0, 0x001F)
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    bits = [bin(m).count("1") for m in masks]
    w, h = hdr["width"], abs(hdr["height"])
    stride = row_stride(w, 16)
    raw_rows = []
    for y in range(h):
        file_y = y if hdr["height"] < 0 else h - 1 - y
        base = hdr["off_bits"] + file_y * stride
        raw_rows.append([tuple((struct.unpack_from("<H", data, base + 2 * x)[0] & m) >> s
                               for m, s in zip(masks, shifts)) for x in range(w)])
    ref = Image.new("RGB", (w, h))
    ref.putdata([tuple(our_rule(n, b) for n, b in zip(px, bits))
                 for row in raw_rows for px in row])
    return ref, raw_rows, bits


# ---------------------------------------------------------------- variants

class Variant:
    """One corpus file.

    make(path) writes the file and returns the pixels it was crafted from (or None when a
    peer wrote it). ref is the peer whose decode becomes the reference ("ours16": the 16-bit
    rule, checked against both peers). expect: header fields the file must have.
    known_fault: peer -> why its decode is allowed to differ.
    """

    def __init__(self, name, make, ref, expect, known_fault=None, reject=False,
                 check=None):
        self.name, self.make, self.ref, self.expect = name, make, ref, expect
        self.known_fault = known_fault or {}
        self.reject = reject
        self.check = check


def variants(ph):
    v = []

    # -- Windows 40-byte header, palette formats
    def w1_bw(path):
        ph.fit("camera", 67, 45).convert("L").convert("1").save(path)
    v.append(Variant("win1_bw_67x45", w1_bw, "im",
                     dict(header=40, bpp=1, compression=BI_RGB)))

    def w1_pal2(path):
        im_write(ph.fit("coffee", 33, 21).quantize(2), "bmp3", path, "-compress", "none")
    v.append(Variant("win1_pal2_33x21", w1_pal2, "pil",
                     dict(header=40, bpp=1, compression=BI_RGB, clr_used=2),
                     check=palette_not_grey))

    def w4(img):
        def make(path):
            im_write(img().quantize(16), "bmp3", path, "-compress", "none")
        return make
    v.append(Variant("win4_67x45", w4(lambda: ph.fit("astronaut", 67, 45)), "pil",
                     dict(header=40, bpp=4, compression=BI_RGB)))
    v.append(Variant("win4_5x3", w4(lambda: ph.fit("chelsea", 5, 3)), "pil",
                     dict(header=40, bpp=4, compression=BI_RGB)))

    def w8(path):
        ph.fit("chelsea", 67, 45).quantize(256).save(path)
    v.append(Variant("win8_67x45", w8, "im",
                     dict(header=40, bpp=8, compression=BI_RGB)))

    def w8_grey(path):
        ph.fit("camera", 33, 21).convert("L").save(path)
    v.append(Variant("win8_grey_33x21", w8_grey, "im",
                     dict(header=40, bpp=8, compression=BI_RGB)))

    # Neither peer writes a colour table shorter than 256 entries for 8 bits.
    def w8_short(n, img):
        def make(path):
            q = img().quantize(n)
            rows, pal = indices_of(q), palette_of(q, n)
            with open(path, "wb") as f:
                f.write(build_bmp(q.width, q.height, 8, pixel_array(rows, q.width, 8),
                                  palette=pal, clr_used=n))
            return image_from_indices(rows, pal)
        return make
    v.append(Variant("win8_clrused100_67x45", w8_short(100, lambda: ph.fit("coffee", 67, 45)),
                     "pil", dict(header=40, bpp=8, compression=BI_RGB, clr_used=100)))
    v.append(Variant("win8_clrused16_227x3", w8_short(16, lambda: ph.strip("astronaut", 227, 3)),
                     "pil", dict(header=40, bpp=8, compression=BI_RGB, clr_used=16)))

    # -- Windows 40-byte header, direct colour
    for name, src, w, h, how in (("win24_67x45", "chelsea", 67, 45, "fit"),
                                 ("win24_1x1", "coffee", 1, 1, "fit"),
                                 ("win24_5x3", "astronaut", 5, 3, "fit"),
                                 ("win24_227x3", "coffee", 227, 3, "strip")):
        def w24(path, src=src, w=w, h=h, how=how):
            getattr(ph, how)(src, w, h).save(path)
        v.append(Variant(name, w24, "im", dict(header=40, bpp=24, compression=BI_RGB)))

    # 16 bits: the reference is NOT a peer decode but our reader's widening of the raw
    # channel values (see our_rule); both peers must agree on those raw values.
    # Channels stretched to the full range so that 0 and the top value both occur.
    def w16(layout, img):
        def make(path):
            src = ImageOps.autocontrast(img())
            rows = pack16(src, layout)
            masks = (0xF800, 0x07E0, 0x001F) if layout == "565" else None
            with open(path, "wb") as f:
                f.write(build_bmp(src.width, src.height, 16,
                                  pixel_array(rows, src.width, 16),
                                  compression=BI_BITFIELDS if masks else BI_RGB,
                                  masks=masks))
        return make
    v.append(Variant("win16_555_67x45", w16("555", lambda: ph.fit("chelsea", 67, 45)),
                     "ours16", dict(header=40, bpp=16, compression=BI_RGB)))
    v.append(Variant("win16_565_bitfields_33x21",
                     w16("565", lambda: ph.fit("coffee", 33, 21)),
                     "ours16", dict(header=40, bpp=16, compression=BI_BITFIELDS)))
    v.append(Variant("win16_565_bitfields_5x3", w16("565", lambda: ph.fit("astronaut", 5, 3)),
                     "ours16", dict(header=40, bpp=16, compression=BI_BITFIELDS)))

    def w32(path):
        ph.fit("astronaut", 67, 45).convert("RGBA").save(path)
    v.append(Variant("win32_67x45", w32, "im", dict(header=40, bpp=32, compression=BI_RGB)))

    def w32_bitfields(masks, img):
        def make(path):
            src = img()
            shifts = [(m & -m).bit_length() - 1 for m in masks]
            rows = [b"".join(struct.pack("<I", sum(c << s for c, s in
                                                    zip(src.getpixel((x, y)), shifts)))
                             for x in range(src.width)) for y in range(src.height)]
            with open(path, "wb") as f:
                f.write(build_bmp(src.width, src.height, 32,
                                  pixel_array(rows, src.width, 32),
                                  compression=BI_BITFIELDS, masks=masks))
            return src
        return make
    v.append(Variant("win32_bitfields_33x21",
                     w32_bitfields((0x00FF0000, 0x0000FF00, 0x000000FF),
                                   lambda: ph.fit("coffee", 33, 21)),
                     "pil", dict(header=40, bpp=32, compression=BI_BITFIELDS)))
    # Channels one byte higher than usual: the low byte is the unused one.
    v.append(Variant("win32_bitfields_high_67x45",
                     w32_bitfields((0xFF000000, 0x00FF0000, 0x0000FF00),
                                   lambda: ph.fit("chelsea", 67, 45)),
                     "pil", dict(header=40, bpp=32, compression=BI_BITFIELDS)))

    # -- top-down (negative height); no peer writes these
    def top_down_24(path):
        src = ph.fit("astronaut", 33, 21)
        rows = [src.crop((0, y, src.width, y + 1)).tobytes("raw", "BGR")
                for y in range(src.height)]
        with open(path, "wb") as f:
            f.write(build_bmp(src.width, -src.height, 24,
                              pixel_array(rows, src.width, 24, top_down=True)))
        return src
    v.append(Variant("topdown24_33x21", top_down_24, "pil",
                     dict(header=40, bpp=24, compression=BI_RGB, height=-21)))

    def top_down_8(path):
        q = ph.fit("chelsea", 67, 45).quantize(256)
        rows, pal = indices_of(q), palette_of(q, 256)
        with open(path, "wb") as f:
            f.write(build_bmp(q.width, -q.height, 8,
                              pixel_array(rows, q.width, 8, top_down=True), palette=pal))
        return image_from_indices(rows, pal)
    v.append(Variant("topdown8_67x45", top_down_8, "pil",
                     dict(header=40, bpp=8, compression=BI_RGB, height=-45)))

    # -- run-length coded
    # Width 64: the peer's RLE8 encoder codes the padding pixels of rows whose width is
    # not a multiple of 4, so only such widths give a clean peer-written file.
    def rle8_peer(path):
        im_write(ph.fit("chelsea", 64, 45).quantize(200, dither=Image.Dither.NONE),
                 "bmp3", path, "-compress", "RLE")
    v.append(Variant("rle8_peer_64x45", rle8_peer, "pil",
                     dict(header=40, bpp=8, compression=BI_RLE8)))

    def rle(bpp, img, colours, skips):
        def make(path):
            q = img().quantize(colours, dither=Image.Dither.NONE)
            rows, pal = indices_of(q), palette_of(q, colours)
            coded, expected, stats = rle_encode(rows[::-1], q.width, bpp, skips)
            want = ["odd_absolute", "even_absolute", "runs"] + (["deltas"] if skips else [])
            if bpp == 4:
                want.append("two_colour_runs")
            missing = [k for k in want if stats[k] == 0]
            if missing:
                raise CorpusError("%s: photo gives no %s" % (path, ", ".join(missing)))
            with open(path, "wb") as f:
                f.write(build_bmp(q.width, q.height, bpp, coded,
                                  compression=BI_RLE8 if bpp == 8 else BI_RLE4,
                                  palette=pal, clr_used=colours))
            return image_from_indices(expected[::-1], pal)
        return make
    # skips: (x, y) in file order (row 0 is the bottom row) -> (dx, dy)
    delta_fault = "Pillow reads two bytes too many after a delta escape"
    v.append(Variant("rle8_67x45", rle(8, lambda: ph.fit("coffee", 67, 45), 64,
                                       {(20, 5): (9, 0), (40, 30): (7, 2)}),
                     "im", dict(header=40, bpp=8, compression=BI_RLE8, clr_used=64),
                     known_fault={"pil": delta_fault}))
    v.append(Variant("rle8_227x3", rle(8, lambda: ph.strip("chelsea", 227, 3), 32, {}),
                     "pil", dict(header=40, bpp=8, compression=BI_RLE8, clr_used=32)))
    rle4_fault = {"pil": "Pillow misdecodes RLE4 absolute runs of odd length; " + delta_fault}
    v.append(Variant("rle4_67x45", rle(4, lambda: ph.fit("astronaut", 67, 45), 16,
                                       {(10, 3): (5, 0), (50, 20): (3, 4)}),
                     "im", dict(header=40, bpp=4, compression=BI_RLE4, clr_used=16),
                     known_fault=rle4_fault))
    v.append(Variant("rle4_33x21", rle(4, lambda: ph.fit("chelsea", 33, 21), 16,
                                       {(7, 10): (11, 1)}),
                     "im", dict(header=40, bpp=4, compression=BI_RLE4, clr_used=16),
                     known_fault=rle4_fault))

    # -- OS/2 12-byte core header, written by the peer
    def os2(img, colours):
        def make(path):
            src = img()
            im_write(src.quantize(colours) if colours else src, "bmp2", path)
        return make
    v.append(Variant("os2_1_67x45", os2(lambda: ph.part("page", (0, 0, 134, 90), 67, 45), 2),
                     "pil",
                     dict(header=12, bpp=1)))
    v.append(Variant("os2_4_33x21", os2(lambda: ph.fit("coffee", 33, 21), 16), "pil",
                     dict(header=12, bpp=4)))
    v.append(Variant("os2_8_67x45", os2(lambda: ph.fit("chelsea", 67, 45), 256), "pil",
                     dict(header=12, bpp=8)))
    v.append(Variant("os2_24_33x21", os2(lambda: ph.fit("astronaut", 33, 21), 0), "pil",
                     dict(header=12, bpp=24)))

    # -- valid files our reader refuses; the rendering intent is what makes the peer
    # choose between the 108- and 124-byte header
    def versioned(intent):
        def make(path):
            im_write(ph.fit("coffee", 33, 21), "bmp", path, *intent)
        return make
    v.append(Variant("v4_header108_33x21", versioned(("-intent", "undefined")), "pil",
                     dict(header=108, bpp=24), reject=True))
    v.append(Variant("v5_header124_33x21", versioned(("-intent", "perceptual")), "pil",
                     dict(header=124, bpp=24), reject=True))
    return v


def palette_not_grey(hdr):
    if any(r == g == b for r, g, b in hdr["palette"]):
        raise CorpusError("palette has a grey entry: %s" % hdr["palette"])


# ---------------------------------------------------------------- driver

def build(var, out_dir):
    folder = os.path.join(out_dir, "reject") if var.reject else out_dir
    path = os.path.join(folder, var.name + ".bmp")
    crafted = var.make(path)
    with open(path, "rb") as f:
        data = f.read()
    hdr = parse_header(data)
    for key, want in var.expect.items():
        if hdr[key] != want:
            raise CorpusError("%s: %s is %r, wanted %r" % (var.name, key, hdr[key], want))
    if var.check:
        var.check(hdr)

    decoded = {p: DECODERS[p](path) for p in DECODERS}
    if var.ref == "ours16":
        ref, raw_rows, bits = reference16(data, hdr)
        # Peers widen 5/6-bit channels their own way; they must still agree on the raw
        # values, i.e. the top bits of each decoded channel.
        raw = [n for row in raw_rows for px in row for n in px]
        for peer, img in decoded.items():
            got = [c >> (8 - b) for px in img.getdata() for c, b in zip(px, bits)]
            if img.size != ref.size or got != raw:
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
            n = diff_count(ref, img)
            if n and peer not in var.known_fault:
                raise CorpusError("%s: %s and %s disagree on %d pixels"
                                  % (var.name, PEER_NAMES[var.ref], PEER_NAMES[peer], n))
            if peer in var.known_fault:
                notes.append("%s: %s differs on %d of %d pixels (%s)"
                             % (var.name, PEER_NAMES[peer], n, ref.width * ref.height,
                                var.known_fault[peer]))
    if ref.size != (hdr["width"], abs(hdr["height"])):
        raise CorpusError("%s: reference is %dx%d" % ((var.name,) + ref.size))
    if not var.reject:
        write_ppm(ref, os.path.join(folder, var.name + ".ppm"))


def build_all(ph, out_dir):
    for var in variants(ph):
        build(var, out_dir)


if __name__ == "__main__":
    sys.exit(generator_main(sys.argv, build_all, notes))

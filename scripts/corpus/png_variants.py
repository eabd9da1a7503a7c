#!/usr/bin/python3
"""Writes the PNG codec test corpus: NAME.png plus NAME.ppm (reference pixels) per variant.

Usage: png_variants.py PHOTO_DIR OUT_DIR

PHOTO_DIR holds the source photos (chelsea.png, coffee.png, astronaut.png, camera.png,
page.png). Files are written by Pillow, by ImageMagick or crafted here (Python zlib, every
filter type in turn) from small odd-sized crops of the photos; crafted files must decode to
exactly the samples they were crafted from.

Every file is decoded by two peers, pngtopam (netpbm, raw samples at full precision with
`-alphapam`) and Pillow; both must agree on the samples (Pillow keeps only the high byte
of 16-bit colour samples) and on which pixels are transparent. The reference is the
pngtopam decode, brought to 8 bits the way our reader does it:

- samples below 8 bits scale to the grey levels v * 255 / (2^depth - 1); 16-bit samples
  keep their high byte;
- files with an alpha channel or a grey or RGB tRNS chunk: neither peer composes, so the
  reference is computed here from the raw samples by our reader's rule: in the file's
  sample scale (maximum M), colour = round((F * a + B * (M - a)) / M), where a tRNS match
  counts as a = 0 and everything else as a = M, and B is the file's bKGD colour or, without
  one, BACKGROUND (what the peer test sets as the image's background colour) with each
  channel times 256 in 16-bit files; grey uses the integer mean of the three channels in
  that scale, at depths below 8 the nearest grey level of the depth;
- palette files keep their palette colours whatever their tRNS chunk says.

Peers ignore gAMA; the peer test reads the files without gamma correction.

Called by scripts/make-test-corpus.sh.
"""
import io
import os
import struct
import subprocess
import sys
import zlib

from PIL import Image, ImageOps

from corpus_common import IM, CorpusError, generator_main

# The image background colour the peer test sets before loading (red, green, blue).
BACKGROUND = (201, 102, 51)

notes = []  # peer disagreements that are expected, for the summary

PASSES = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2))


def grey_levels(img, depth):
    """Rows of grey samples of the given depth (autocontrast: every level occurs)."""
    top = (1 << depth) - 1
    g = ImageOps.autocontrast(img.convert("L"))
    return [[(g.getpixel((x, y)) * top + 127) // 255 for x in range(g.width)] for y in range(g.height)]


def alpha_rows(ph, w, h, top):
    """An alpha channel from a photo, with fully transparent, opaque and partial pixels."""
    a = ImageOps.autocontrast(ph.fit("camera", w, h).convert("L"), cutoff=15)
    return [[a.getpixel((x, y)) * top // 255 for x in range(w)] for y in range(h)]


# ---------------------------------------------------------------- writing

def chunk(ctype, data):
    return struct.pack(">I", len(data)) + ctype + data + struct.pack(">I", zlib.crc32(ctype + data))


def pack_row(samples, depth):
    """samples: flat list of channel values of one row."""
    if depth == 16:
        return b"".join(struct.pack(">H", v) for v in samples)
    if depth == 8:
        return bytes(samples)
    per = 8 // depth
    out = bytearray((len(samples) + per - 1) // per)
    for i, v in enumerate(samples):
        out[i // per] |= v << (8 - depth * (i % per + 1))
    return bytes(out)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_row(kind, row, prev, bpp):
    out = bytearray([kind])
    for i, x in enumerate(row):
        a = row[i - bpp] if i >= bpp else 0
        b = prev[i] if prev else 0
        c = prev[i - bpp] if prev and i >= bpp else 0
        pred = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
        out.append((x - pred) & 0xFF)
    return out


def image_data(pixels, depth, channels, interlace):
    """pixels: rows of per-pixel tuples. Filter types 0..4 take turns row by row."""
    h, w = len(pixels), len(pixels[0])
    bpp = max(1, depth * channels // 8)
    grids = [(0, 0, 1, 1)] if not interlace else PASSES
    raw = bytearray()
    n = 0
    for x0, y0, dx, dy in grids:
        prev = None
        if x0 >= w or y0 >= h:
            continue
        for y in range(y0, h, dy):
            row = pack_row([v for x in range(x0, w, dx) for v in pixels[y][x]], depth)
            raw += filter_row(n % 5, row, prev, bpp)
            prev = row
            n += 1
    return zlib.compress(bytes(raw), 9)


def png_bytes(pixels, depth, ctype, palette=None, before_plte=(), after_plte=(), interlace=False):
    h, w = len(pixels), len(pixels[0])
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, ctype, 0, 0,
                                                               1 if interlace else 0))
    for t, d in before_plte:
        out += chunk(t, d)
    if palette:
        out += chunk(b"PLTE", bytes(c for e in palette for c in e))
    for t, d in after_plte:
        out += chunk(t, d)
    out += chunk(b"IDAT", image_data(pixels, depth, channels, interlace)) + chunk(b"IEND", b"")
    return out


def be16(*values):
    return b"".join(struct.pack(">H", v) for v in values)


def be32(v):
    return struct.pack(">I", v)


# ---------------------------------------------------------------- reading back

def parse_png(data):
    """IHDR fields and the ancillary chunks the reference needs."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise CorpusError("no PNG signature")
    info = {"chunks": []}
    at = 8
    while at < len(data):
        n, = struct.unpack_from(">I", data, at)
        ctype, body = data[at + 4:at + 8], data[at + 8:at + 8 + n]
        info["chunks"].append(ctype.decode())
        if ctype == b"IHDR":
            w, h, depth, ct, _, _, il = struct.unpack(">IIBBBBB", body)
            info.update(width=w, height=h, depth=depth, ctype=ct, interlace=il)
        elif ctype == b"PLTE":
            info["palette"] = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif ctype == b"tRNS":
            info["trns"] = body
        elif ctype == b"bKGD":
            info["bkgd"] = body
        elif ctype == b"gAMA":
            info["gama"] = struct.unpack(">I", body)[0]
        at += 12 + n
    return info


def decode_pam(path, palette):
    """pngtopam -alphapam: (maxval, rows of (samples..., alpha)) at the file's precision;
    palette files as (r, g, b, alpha) also when pngtopam finds their colours grey."""
    run = subprocess.run(["pngtopam", "-alphapam", path], capture_output=True)
    if run.returncode != 0:
        raise CorpusError("%s: pngtopam cannot decode it: %s"
                          % (path, run.stderr.decode(errors="replace").strip()))
    head, _, body = run.stdout.partition(b"ENDHDR\n")
    fields = dict(line.split(b" ", 1) for line in head.split(b"\n")[1:] if b" " in line)
    w, h, depth, maxval = (int(fields[k]) for k in (b"WIDTH", b"HEIGHT", b"DEPTH", b"MAXVAL"))
    size = 2 if maxval > 255 else 1
    fmt = ">%d%s" % (w * h * depth, "H" if size == 2 else "B")
    flat = struct.unpack(fmt, body[:w * h * depth * size])
    px = [tuple(flat[i:i + depth]) for i in range(0, len(flat), depth)]
    if palette and depth == 2:
        px = [(g, g, g, a) for g, a in px]
    return maxval, [px[y * w:(y + 1) * w] for y in range(h)]


def decode_pil(path):
    """Pillow's view: rows of (r, g, b, a), 8 bits, and the raw values of 16-bit grey."""
    with Image.open(path) as im:
        im.load()
        raw16 = list(im.getdata()) if im.mode in ("I", "I;16") else None
        rgba = im.convert("RGBA") if raw16 is None else None
        w, h = im.size
    if raw16 is not None:
        px = [(v >> 8, v >> 8, v >> 8, 255) for v in raw16]
    else:
        px = list(rgba.getdata())
    return raw16, [px[y * w:(y + 1) * w] for y in range(h)]


RGB_TRNS_FAULT = "pngtopam -alphapam reports RGB files with a tRNS colour as opaque"


def alpha_of(info, rows):
    """8-bit alpha per pixel as the file defines it (palette files: their tRNS entries)."""
    depth, ct = info["depth"], info["ctype"]
    trns = info.get("trns")
    out = []
    for row in rows:
        line = []
        for px in row:
            if ct == 3:
                line.append(px[-1])  # pngtopam's palette alpha; Pillow must agree
            elif ct in (4, 6):
                line.append(px[-1] >> 8 if depth == 16 else px[-1] * 255 // ((1 << depth) - 1))
            elif trns is not None:
                key = struct.unpack(">%dH" % (len(trns) // 2), trns)
                colour = px[:1] if ct == 0 else px[:3]
                line.append(0 if tuple(colour) == key else 255)
            else:
                line.append(255)
        out.append(line)
    return out


def to8(v, depth):
    return v >> 8 if depth == 16 else v * 255 // ((1 << depth) - 1)


def background(info):
    """The background in the file's sample scale: (r, g, b, grey)."""
    depth, ct = info["depth"], info["ctype"]
    if "bkgd" in info and ct != 3:
        b = info["bkgd"]
        if ct in (0, 4):
            g, = struct.unpack(">H", b)
            return (g, g, g, g)
        r, g, bl = struct.unpack(">3H", b)
        return (r, g, bl, 0)
    scale = 256 if depth == 16 else 1
    r, g, b = (c * scale for c in BACKGROUND)
    grey = (r + g + b) // 3
    if depth < 8:
        grey = (grey * ((1 << depth) - 1) + 127) // 255
    return (r, g, b, grey)


def reference(info, maxval, rows):
    """Our reader's pixels (8-bit RGB rows) from the raw pngtopam samples."""
    depth, ct = info["depth"], info["ctype"]
    if ct == 3:  # palette: colours as stored, tRNS or not
        return [[px[:3] for px in row] for row in rows]
    top = (1 << depth) - 1
    if maxval != top:
        raise CorpusError("pngtopam maxval %d for depth %d" % (maxval, depth))
    bg = background(info)
    trns = None
    if "trns" in info:
        trns = struct.unpack(">%dH" % (len(info["trns"]) // 2), info["trns"])

    def over(f, a, b):
        return (f * a + b * (top - a) + top // 2) // top

    out = []
    for row in rows:
        line = []
        for px in row:
            colour = px[:1] * 3 if ct in (0, 4) else px[:3]
            if ct in (4, 6):
                a = px[-1]
            elif trns is not None:
                a = 0 if tuple(px[:len(trns)]) == tuple(trns) else top
            else:
                a = top
            if ct in (0, 4):
                g = to8(over(colour[0], a, bg[3]), depth)
                line.append((g, g, g))
            else:
                line.append(tuple(to8(over(f, a, b), depth) for f, b in zip(colour, bg[:3])))
        out.append(line)
    return out


# ---------------------------------------------------------------- variants

class Variant:
    """One corpus file: make(path) writes it and returns the rows of sample tuples it was
    crafted from (None when a peer wrote it); expect: IHDR fields and chunks it must have.
    known_fault: why Pillow's transparency may differ."""

    def __init__(self, name, make, expect, chunks=(), known_fault=None):
        self.name, self.make, self.expect, self.chunks = name, make, expect, chunks
        self.known_fault = known_fault


def crafted(pixels_fn, depth, ctype, palette_fn=None, before=(), after=(), interlace=False):
    def make(path):
        pixels = pixels_fn()
        palette = palette_fn() if palette_fn else None
        with open(path, "wb") as f:
            f.write(png_bytes(pixels, depth, ctype, palette, before, after, interlace))
        return pixels
    return make


def rows_of(*channels):
    """Rows of tuples from per-channel rows."""
    return [list(zip(*rows)) for rows in zip(*channels)]


def variants(ph):
    v = []

    def grey(depth, src, w, h):
        return lambda: rows_of(grey_levels(ph.fit(src, w, h), depth))

    def pil_save(img_fn, **opts):
        def make(path):
            img_fn().save(path, **opts)
        return make

    def quantized(colours, src, w, h):
        return lambda: ph.fit(src, w, h).quantize(colours)

    def fine_rgb(src, w, h, alpha=False):
        def pixels():
            chans = ph.fine(src, w, h)
            if alpha:
                chans.append(alpha_rows(ph, w, h, 65535))
            return rows_of(*chans)
        return pixels

    def fine_grey(src, w, h, alpha=False):
        def pixels():
            g = ph.fine(src, w, h)[1]
            return rows_of(g, alpha_rows(ph, w, h, 65535)) if alpha else rows_of(g)
        return pixels

    def rgb8(src, w, h, alpha=False):
        def pixels():
            im = ph.fit(src, w, h)
            chans = [[[im.getpixel((x, y))[c] for x in range(w)] for y in range(h)] for c in range(3)]
            if alpha:
                chans.append(alpha_rows(ph, w, h, 255))
            return rows_of(*chans)
        return pixels

    def grey8_alpha(src, w, h):
        return lambda: rows_of(grey_levels(ph.fit(src, w, h), 8), alpha_rows(ph, w, h, 255))

    def palette_of(depth, src, w, h):
        """Index rows and palette of a quantized photo."""
        def q():
            return ph.fit(src, w, h).quantize(1 << depth)

        def pixels():
            im = q()
            return [[(im.getpixel((x, y)),) for x in range(w)] for y in range(h)]

        def pal():
            entries = q().getpalette()
            return [tuple(entries[3 * i:3 * i + 3]) for i in range(1 << depth)]
        return pixels, pal

    # -- every colour type and depth
    v.append(Variant("grey1_33x21", crafted(grey(1, "camera", 33, 21), 1, 0), dict(depth=1, ctype=0)))
    v.append(Variant("grey2_33x21", crafted(grey(2, "camera", 33, 21), 2, 0), dict(depth=2, ctype=0)))
    v.append(Variant("grey2_5x3", crafted(grey(2, "coffee", 5, 3), 2, 0), dict(depth=2, ctype=0)))
    v.append(Variant("grey4_67x45", crafted(grey(4, "astronaut", 67, 45), 4, 0), dict(depth=4, ctype=0)))
    v.append(Variant("grey8_67x45", pil_save(lambda: ph.fit("camera", 67, 45).convert("L")),
                     dict(depth=8, ctype=0)))
    v.append(Variant("grey16_33x21", crafted(fine_grey("coffee", 33, 21), 16, 0), dict(depth=16, ctype=0)))
    v.append(Variant("rgb8_67x45", pil_save(lambda: ph.fit("chelsea", 67, 45)), dict(depth=8, ctype=2)))
    v.append(Variant("rgb8_227x3", pil_save(lambda: ph.strip("coffee", 227, 3)), dict(depth=8, ctype=2)))
    v.append(Variant("rgb8_1x1", crafted(rgb8("astronaut", 1, 1), 8, 2), dict(depth=8, ctype=2)))
    v.append(Variant("rgb16_33x21", crafted(fine_rgb("astronaut", 33, 21), 16, 2), dict(depth=16, ctype=2)))
    for depth, src, w, h in ((1, "page", 33, 21), (2, "coffee", 33, 21), (4, "astronaut", 67, 45),
                             (8, "chelsea", 67, 45)):
        v.append(Variant("pal%d_%dx%d" % (depth, w, h), pil_save(quantized(1 << depth, src, w, h), bits=depth),
                         dict(depth=depth, ctype=3)))
    v.append(Variant("ga8_33x21", pil_save(lambda: Image.merge("LA", (
        ph.fit("coffee", 33, 21).convert("L"), ImageOps.autocontrast(ph.fit("camera", 33, 21).convert("L"), cutoff=15)))),
        dict(depth=8, ctype=4)))
    v.append(Variant("ga16_33x21", crafted(fine_grey("chelsea", 33, 21, alpha=True), 16, 4), dict(depth=16, ctype=4)))
    v.append(Variant("rgba8_67x45", crafted(rgb8("chelsea", 67, 45, alpha=True), 8, 6), dict(depth=8, ctype=6)))
    v.append(Variant("rgba16_33x21", crafted(fine_rgb("coffee", 33, 21, alpha=True), 16, 6), dict(depth=16, ctype=6)))

    # -- Adam7; the 5x3 file has empty passes
    v.append(Variant("rgb8_interlaced_67x45", im_interlaced(ph, "astronaut", 67, 45),
                     dict(depth=8, ctype=2, interlace=1)))
    v.append(Variant("grey2_interlaced_33x21", crafted(grey(2, "camera", 33, 21), 2, 0, interlace=True),
                     dict(depth=2, ctype=0, interlace=1)))
    pix, pal = palette_of(2, "chelsea", 5, 3)
    v.append(Variant("pal2_interlaced_5x3", crafted(pix, 2, 3, pal, interlace=True), dict(depth=2, ctype=3, interlace=1)))
    pix, pal = palette_of(8, "coffee", 67, 45)
    v.append(Variant("pal8_interlaced_67x45", crafted(pix, 8, 3, pal, interlace=True), dict(depth=8, ctype=3, interlace=1)))
    v.append(Variant("rgba16_interlaced_33x21", crafted(fine_rgb("astronaut", 33, 21, alpha=True), 16, 6, interlace=True),
                     dict(depth=16, ctype=6, interlace=1)))
    v.append(Variant("ga8_interlaced_33x21", crafted(grey8_alpha("chelsea", 33, 21), 8, 4, interlace=True),
                     dict(depth=8, ctype=4, interlace=1)))

    # -- tRNS: a colour of the image made transparent; the palette keeps its colours
    grey_fault = "Pillow compares grey tRNS below 8 bits with samples it has already scaled"

    def with_trns(name, pixels_fn, depth, ctype, expect, bkgd=None, fault=None):
        """The most frequent colour is the transparent one."""
        def make(path):
            pixels = pixels_fn()
            counts = {}
            for row in pixels:
                for px in row:
                    counts[px] = counts.get(px, 0) + 1
            key = max(counts, key=counts.get)
            trns = be16(*key)
            extra = [(b"tRNS", trns)] + ([(b"bKGD", bkgd)] if bkgd else [])
            with open(path, "wb") as f:
                f.write(png_bytes(pixels, depth, ctype, after_plte=extra))
            return pixels
        v.append(Variant(name, make, expect, chunks=("tRNS",) + (("bKGD",) if bkgd else ()),
                         known_fault=fault))

    with_trns("grey4_trns_33x21", grey(4, "astronaut", 33, 21), 4, 0, dict(depth=4, ctype=0), fault=grey_fault)
    with_trns("grey2_trns_bkgd_33x21", grey(2, "coffee", 33, 21), 2, 0, dict(depth=2, ctype=0), bkgd=be16(2),
              fault=grey_fault)
    with_trns("grey8_trns_67x45", grey(8, "camera", 67, 45), 8, 0, dict(depth=8, ctype=0))
    with_trns("grey16_trns_33x21", fine_grey("chelsea", 33, 21), 16, 0, dict(depth=16, ctype=0))
    with_trns("rgb8_trns_67x45", rgb8("chelsea", 67, 45), 8, 2, dict(depth=8, ctype=2))
    with_trns("rgb16_trns_bkgd_33x21", fine_rgb("coffee", 33, 21), 16, 2, dict(depth=16, ctype=2),
              bkgd=be16(0x1234, 0xABCD, 0x7F80),
              fault="Pillow reads the samples with 8 bits but compares them with the 16-bit tRNS colour")

    def pal_trns(path):
        q = ph.fit("astronaut", 33, 21).quantize(16)
        q.save(path, bits=4, transparency=bytes([0, 128, 255, 7]))
    v.append(Variant("pal4_trns_33x21", pal_trns, dict(depth=4, ctype=3), chunks=("tRNS",)))

    # -- bKGD: alpha composed on the file's colour
    v.append(Variant("rgba8_bkgd_67x45", crafted(rgb8("astronaut", 67, 45, alpha=True), 8, 6,
                                                 after=[(b"bKGD", be16(10, 200, 90))]),
                     dict(depth=8, ctype=6), chunks=("bKGD",)))
    v.append(Variant("ga16_bkgd_33x21", crafted(fine_grey("coffee", 33, 21, alpha=True), 16, 4,
                                                after=[(b"bKGD", be16(0x9A5C))]),
                     dict(depth=16, ctype=4), chunks=("bKGD",)))

    # -- gAMA: peers ignore it; the test reads without gamma correction
    v.append(Variant("rgb8_gama_67x45", crafted(rgb8("coffee", 67, 45), 8, 2, before=[(b"gAMA", be32(45455))]),
                     dict(depth=8, ctype=2), chunks=("gAMA",)))
    pix, pal = palette_of(8, "astronaut", 33, 21)
    v.append(Variant("pal8_gama_33x21", crafted(pix, 8, 3, pal, before=[(b"gAMA", be32(45455))]),
                     dict(depth=8, ctype=3), chunks=("gAMA",)))
    return v


def im_interlaced(ph, src, w, h):
    def make(path):
        buf = io.BytesIO()
        ph.fit(src, w, h).save(buf, "ppm")
        run = subprocess.run([IM, "ppm:-", "-interlace", "PNG", "-define", "png:exclude-chunk=all",
                              "PNG24:" + path], input=buf.getvalue(), capture_output=True)
        if run.returncode != 0:
            raise CorpusError("%s: ImageMagick cannot write it: %s"
                              % (path, run.stderr.decode(errors="replace").strip()))
    return make


# ---------------------------------------------------------------- driver

def write_ppm(rows, path):
    h, w = len(rows), len(rows[0])
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h) + bytes(c for row in rows for px in row for c in px))


def build(var, out_dir):
    path = os.path.join(out_dir, var.name + ".png")
    made = var.make(path)
    with open(path, "rb") as f:
        info = parse_png(f.read())
    for key, want in var.expect.items():
        if info[key] != want:
            raise CorpusError("%s: %s is %r, wanted %r" % (var.name, key, info[key], want))
    for c in var.chunks:
        if c not in info["chunks"]:
            raise CorpusError("%s: no %s chunk" % (var.name, c))

    depth, ct = info["depth"], info["ctype"]
    maxval, pam = decode_pam(path, ct == 3)
    if made is not None:
        # pngtopam gives colours for palette files: compare indices through the palette.
        want = [[info["palette"][px[0]] if ct == 3 else px for px in row] for row in made]
        got = [[px[:3] if ct == 3 else px[:len(want[0][0])] for px in row] for row in pam]
        if got != want:
            raise CorpusError("%s: pngtopam decodes other samples than were crafted" % var.name)

    # Pillow must see the same samples (high bytes of 16-bit colour); both peers must see
    # the transparency the file's samples and tRNS chunk give.
    raw16, pil = decode_pil(path)
    if raw16 is not None:
        flat = [px[0] for row in pam for px in row]
        if raw16 != flat:
            raise CorpusError("%s: Pillow and pngtopam disagree on the 16-bit samples" % var.name)
    top = (1 << depth) - 1 if ct != 3 else 255
    alpha8 = alpha_of(info, pam)
    bad_colour = bad_pil = bad_pam = 0
    for prow, qrow, arow in zip(pam, pil, alpha8):
        for p, q, a in zip(prow, qrow, arow):
            colour = p[:1] * 3 if ct in (0, 4) else p[:3]
            colour = tuple(to8(c, depth) if ct != 3 else c for c in colour)
            bad_colour += colour != q[:3]
            bad_pam += a != (p[-1] if ct == 3 else p[-1] >> 8 if depth == 16 else p[-1] * 255 // top)
            bad_pil += raw16 is None and a != q[3]
    if bad_colour:
        raise CorpusError("%s: Pillow and pngtopam disagree on %d colours" % (var.name, bad_colour))
    faults = {"Pillow": (bad_pil, var.known_fault),
              "pngtopam": (bad_pam, RGB_TRNS_FAULT if ct == 2 and "trns" in info else None)}
    for peer, (bad, fault) in faults.items():
        if bad and not fault:
            raise CorpusError("%s: %s sees other transparency on %d pixels" % (var.name, peer, bad))
        if bad:
            notes.append("%s: %s's transparency differs on %d of %d pixels (%s)"
                         % (var.name, peer, bad, info["width"] * info["height"], fault))
    if ct != 3 and ("trns" in info or ct in (4, 6)):
        kinds = {0 if a == 0 else 2 if a == 255 else 1 for row in alpha8 for a in row}
        if kinds != ({0, 1, 2} if ct in (4, 6) else {0, 2}):
            raise CorpusError("%s: not every kind of transparency occurs" % var.name)

    ref = reference(info, maxval, pam)
    if (len(ref[0]), len(ref)) != (info["width"], info["height"]):
        raise CorpusError("%s: reference has the wrong size" % var.name)
    write_ppm(ref, os.path.join(out_dir, var.name + ".ppm"))


def build_all(ph, out_dir):
    for var in variants(ph):
        build(var, out_dir)


if __name__ == "__main__":
    sys.exit(generator_main(sys.argv, build_all, notes))

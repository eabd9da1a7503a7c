#!/usr/bin/python3
"""Writes the TIFF reader test corpus: NAME.tif plus NAME.ppm (reference pixels) per variant.

Usage: tiff_variants.py PHOTO_DIR OUT_DIR

PHOTO_DIR holds the source photos (chelsea.png, coffee.png, astronaut.png, camera.png,
page.png). Files are written by peer tools (Pillow, netpbm's pamtotiff, ImageMagick) and
re-laid out by libtiff's tiffcp (byte order -B/-L, PackBits, strips of -r rows), or crafted
here where no peer writes the variant (SHORT strip offsets, a bilevel palette). The
reference is Pillow's decoding of the finished file; ImageMagick and netpbm (tifftopnm)
must agree pixel for pixel unless a known fault is noted; crafted files must also decode
to the pixels they were crafted from. CMYK is the
exception: peers convert it their own way, so its reference applies the format's rule
(red = max(255 - C - K, 0), ...) to the samples in the file, which both peers must read.

OUT_DIR/reject/ holds valid files our reader must refuse (other compressions, separate
planes, 16-bit samples); OUT_DIR/reject/messages.txt lists "NAME.tif<TAB>message" for
each. Every reject is decoded by Pillow, so it is a file a peer reads.

Called by scripts/make-test-corpus.sh.
"""
import os
import struct
import sys
import tempfile

from PIL import Image, ImageChops, ImageOps

from corpus_common import IM, CorpusError, decode_im, decode_pil, diff_count, generator_main, run, write_ppm

# Tags, field types and numbers of the format.
IMAGE_WIDTH, IMAGE_LENGTH, BITS, COMPRESSION, PHOTOMETRIC = 256, 257, 258, 259, 262
STRIP_OFFSETS, SAMPLES, ROWS_PER_STRIP, STRIP_BYTE_COUNTS, PLANAR, COLOR_MAP = 273, 277, 278, 279, 284, 320
BYTE, ASCII, SHORT, LONG, RATIONAL = 1, 2, 3, 4, 5
TYPE_SIZE = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 6: 1, 7: 1, 8: 2, 9: 4, 10: 8, 11: 4, 12: 8}
NONE, LZW, JPEG, DEFLATE, PACKBITS = 1, 5, 7, 8, 32773
WHITE_IS_ZERO, BLACK_IS_ZERO, RGB, PALETTE, CMYK = 0, 1, 2, 3, 5

notes = []


# ---------------------------------------------------------------- reading a file back

def parse_tiff(data):
    """The first directory: tag -> (type, values), plus the byte order."""
    if data[:4] == b"II*\0":
        e = "<"
    elif data[:4] == b"MM\0*":
        e = ">"
    else:
        raise CorpusError("no TIFF header")
    at = struct.unpack_from(e + "I", data, 4)[0]
    n = struct.unpack_from(e + "H", data, at)[0]
    tags = {}
    for i in range(n):
        tag, typ, count = struct.unpack_from(e + "HHI", data, at + 2 + 12 * i)
        size = TYPE_SIZE.get(typ, 1) * count
        where = at + 2 + 12 * i + 8
        if size > 4:
            where = struct.unpack_from(e + "I", data, where)[0]
        fmt = {BYTE: "B", SHORT: "H", LONG: "I"}.get(typ)
        values = list(struct.unpack_from(e + fmt * count, data, where)) if fmt else None
        tags[tag] = (typ, values)
    return {"order": "MM" if e == ">" else "II", "tags": tags, "dir": at}


def summary(data):
    """The fields the variants pin, from a finished file."""
    t = parse_tiff(data)
    tags = t["tags"]

    def one(tag, default=None):
        return tags[tag][1][0] if tag in tags else default
    return {
        "order": t["order"],
        "compression": one(COMPRESSION),
        "photometric": one(PHOTOMETRIC),
        "bits": tuple(tags[BITS][1]) if BITS in tags else None,
        "samples": one(SAMPLES),
        "strips": len(tags[STRIP_OFFSETS][1]),
        "offset_type": tags[STRIP_OFFSETS][0],
        "planar": one(PLANAR, 1),
        "colormap": len(tags[COLOR_MAP][1]) if COLOR_MAP in tags else 0,
        "width": one(IMAGE_WIDTH),
        "height": one(IMAGE_LENGTH),
    }


# ---------------------------------------------------------------- crafting

def value_field(out, e, packed):
    """The 4-byte value field of an entry: the values themselves when they fit, else the
    offset of a copy appended to out at an even position."""
    if len(packed) <= 4:
        return packed + bytes(4 - len(packed))
    if len(out) % 2:
        out += b"\0"
    field = struct.pack(e + "I", len(out))
    out += packed
    return field


def build_tiff(big_endian, width, height, bits, photometric, strips, rows_per_strip,
               offset_type=LONG, colormap=None):
    """An uncompressed file: header, strips, long values, directory (tags in order)."""
    e = ">" if big_endian else "<"
    out = bytearray(b"MM\0*" if big_endian else b"II*\0") + bytearray(4)
    offsets = []
    for s in strips:
        offsets.append(len(out))
        out += s
    fields = [(IMAGE_WIDTH, SHORT, [width]), (IMAGE_LENGTH, SHORT, [height]),
              (BITS, SHORT, list(bits)), (COMPRESSION, SHORT, [NONE]),
              (PHOTOMETRIC, SHORT, [photometric]), (STRIP_OFFSETS, offset_type, offsets),
              (SAMPLES, SHORT, [len(bits)]), (ROWS_PER_STRIP, SHORT, [rows_per_strip]),
              (STRIP_BYTE_COUNTS, LONG, [len(s) for s in strips]), (PLANAR, SHORT, [1])]
    if colormap is not None:
        fields.append((COLOR_MAP, SHORT, colormap))
    entries = []
    for tag, typ, values in fields:
        fmt = e + {SHORT: "H", LONG: "I"}[typ] * len(values)
        field = value_field(out, e, struct.pack(fmt, *values))
        entries.append(struct.pack(e + "HHI", tag, typ, len(values)) + field)
    if len(out) % 2:
        out += b"\0"
    struct.pack_into(e + "I", out, 4, len(out))
    out += struct.pack(e + "H", len(entries)) + b"".join(entries) + bytes(4)
    return bytes(out)


def rows_of(img, bits):
    """Packed rows (top first) of an L or P image with bits per pixel."""
    raw = img.tobytes()
    w = img.width
    rows = []
    for y in range(img.height):
        vals = raw[y * w:(y + 1) * w]
        if bits == 8:
            rows.append(bytes(vals))
            continue
        per = 8 // bits
        row = bytearray((w + per - 1) // per)
        for x, v in enumerate(vals):
            row[x // per] |= v << (8 - bits * (x % per + 1))
        rows.append(bytes(row))
    return rows


def colormap_of(pimg, entries):
    pal = pimg.getpalette()[:3 * entries]
    pal += [0] * (3 * entries - len(pal))
    return ([pal[3 * i] * 257 for i in range(entries)] + [pal[3 * i + 1] * 257 for i in range(entries)]
            + [pal[3 * i + 2] * 257 for i in range(entries)])


def with_short_offsets(data):
    """The file with its StripOffsets rewritten as SHORT values (all must be below 64 KiB)."""
    t = parse_tiff(data)
    e = ">" if t["order"] == "MM" else "<"
    offsets = t["tags"][STRIP_OFFSETS][1]
    if max(offsets) > 0xFFFF:
        raise CorpusError("strip offsets too large for SHORT")
    out = bytearray(data)
    n = struct.unpack_from(e + "H", out, t["dir"])[0]
    for i in range(n):
        at = t["dir"] + 2 + 12 * i
        if struct.unpack_from(e + "H", out, at)[0] != STRIP_OFFSETS:
            continue
        field = value_field(out, e, struct.pack(e + "H" * len(offsets), *offsets))
        struct.pack_into(e + "HI4s", out, at + 2, SHORT, len(offsets), field)
    return bytes(out)


# ---------------------------------------------------------------- peers

def tiffcp(src, dst, *args):
    run(["tiffcp", *args, src, dst], what=dst)


def pnm_to_tiff(img, path, *args):
    """netpbm's pamtotiff, the peer that writes WhiteIsZero the right way round."""
    with tempfile.NamedTemporaryFile(suffix=".pnm") as tmp:
        img.save(tmp.name, "PPM")  # P4, P5 or P6 by the image's mode
        with open(path, "wb") as f:
            f.write(run(["pamtotiff", *args, tmp.name], what=path))


def im_write(img, path, *args):
    with tempfile.NamedTemporaryFile(suffix=".png") as tmp:
        img.save(tmp.name)
        run([IM, tmp.name, *args, "tif:" + path], what=path)


def decode_netpbm(path):
    """netpbm's decoding (tifftopnm), in RGB."""
    with tempfile.NamedTemporaryFile(suffix=".pnm") as tmp:
        with open(tmp.name, "wb") as f:
            f.write(run(["tifftopnm", "-quiet", path], what=path))
        with Image.open(tmp.name) as im:
            return im.convert("RGB")


def cmyk_reference(path):
    """The format's rule applied to the samples as stored, which Pillow and ImageMagick
    must both read alike."""
    with Image.open(path) as im:
        if im.mode != "CMYK":
            raise CorpusError("%s: Pillow reads mode %s" % (path, im.mode))
        raw = im.tobytes()
        size = im.size
    if run([IM, path, "-depth", "8", "cmyk:-"], what=path) != raw:
        raise CorpusError("%s: Pillow and ImageMagick read other CMYK samples" % path)
    px = []
    for i in range(0, len(raw), 4):
        c, m, y, k = raw[i:i + 4]
        px.append((max(255 - c - k, 0), max(255 - m - k, 0), max(255 - y - k, 0)))
    ref = Image.new("RGB", size)
    ref.putdata(px)
    return ref


# ---------------------------------------------------------------- variants

class Variant:
    """One corpus file.

    make(path, tmp) writes the file (tmp: a scratch folder) and returns the pixels it was
    crafted from, or None. expect: fields the file must have (see summary). ref: "pil",
    or "cmyk" for the rule applied to the file's samples. known_fault: peer -> why it may
    differ. message: for rejects, what our reader must say.
    """

    def __init__(self, name, make, expect, ref="pil", known_fault=None, message=None):
        self.name, self.make, self.expect, self.ref = name, make, expect, ref
        self.known_fault = known_fault or {}
        self.message = message


def variants(ph):
    v = []

    def saved(img_fn, *cp_args, pre=None):
        """img_fn() saved by Pillow (or written by pre(img, path)), then copied by tiffcp
        with cp_args, if any."""
        def make(path, tmp):
            first = os.path.join(tmp, "first.tif")
            img = img_fn()
            if pre:
                pre(img, first)
            else:
                img.save(first)
            if not cp_args:
                os.replace(first, path)
            else:
                tiffcp(first, path, *cp_args)
        return make

    camera = lambda w, h: (lambda: ph.fit("camera", w, h).convert("L"))
    page = lambda w, h: (lambda: ph.part("page", (0, 0, 2 * w, 2 * h), w, h).convert("L"))

    # -- bilevel. Pillow leaves out BitsPerSample and SamplesPerPixel (their defaults).
    v.append(Variant("bw_black_67x45", saved(lambda: page(67, 45)().convert("1")),
                     dict(photometric=BLACK_IS_ZERO, bits=None, samples=None, compression=NONE)))
    v.append(Variant("bw_white_67x45",
                     saved(lambda: page(67, 45)().convert("1"), pre=lambda img, p: pnm_to_tiff(img, p, "-miniswhite")),
                     dict(photometric=WHITE_IS_ZERO, bits=(1,), compression=NONE)))
    v.append(Variant("bw_white_packbits_be_227x5",
                     saved(lambda: ph.strip("page", 227, 5).convert("L").convert("1"), "-B", "-c", "packbits", "-r", "2",
                           pre=lambda img, p: pnm_to_tiff(img, p, "-miniswhite")),
                     dict(order="MM", photometric=WHITE_IS_ZERO, compression=PACKBITS, strips=3)))

    # A bilevel palette file with two colours (ImageMagick writes an all-black map).
    def pal1(path, tmp):
        q = ph.fit("coffee", 33, 21).quantize(2)
        with open(path, "wb") as f:
            f.write(build_tiff(False, q.width, q.height, [1], PALETTE, [b"".join(rows_of(q, 1))],
                               q.height, colormap=colormap_of(q, 2)))
        return q.convert("RGB")
    v.append(Variant("pal1_33x21", pal1, dict(photometric=PALETTE, bits=(1,), colormap=6)))

    # -- grey
    def grey4(*args):
        def pre(img, p):
            # maxval 15 makes pamtotiff write four bits per sample
            with tempfile.NamedTemporaryFile(suffix=".pgm") as tmp:
                with open(tmp.name, "wb") as f:
                    f.write(b"P5\n%d %d\n15\n" % img.size + bytes(b >> 4 for b in img.tobytes()))
                with open(p, "wb") as f:
                    f.write(run(["pamtotiff", *args, tmp.name], what=p))
        return pre
    v.append(Variant("grey4_37x23", saved(camera(37, 23), pre=grey4()),
                     dict(photometric=BLACK_IS_ZERO, bits=(4,), compression=NONE)))
    v.append(Variant("grey4_white_packbits_37x23",
                     saved(camera(37, 23), "-c", "packbits", "-r", "5", pre=grey4("-miniswhite")),
                     dict(photometric=WHITE_IS_ZERO, bits=(4,), compression=PACKBITS, strips=5),
                     known_fault={"im": "ImageMagick does not invert 4-bit WhiteIsZero samples"}))
    v.append(Variant("grey8_67x45", saved(camera(67, 45)),
                     dict(photometric=BLACK_IS_ZERO, bits=(8,), samples=None, compression=NONE)))
    v.append(Variant("grey8_white_be_33x21",
                     saved(camera(33, 21), "-B", pre=lambda img, p: pnm_to_tiff(img, p, "-miniswhite")),
                     dict(order="MM", photometric=WHITE_IS_ZERO, bits=(8,), compression=NONE)))
    v.append(Variant("grey8_packbits_strips_227x3", saved(lambda: ph.strip("chelsea", 227, 3).convert("L"),
                                                          "-c", "packbits", "-r", "1"),
                     dict(photometric=BLACK_IS_ZERO, compression=PACKBITS, strips=3, offset_type=LONG)))

    # -- palette
    def im_pal4(img, p):
        im_write(img.quantize(16).convert("RGB"), p, "-type", "palette", "-depth", "4", "-compress", "none")
    v.append(Variant("pal4_37x23", saved(lambda: ph.fit("astronaut", 37, 23), pre=im_pal4),
                     dict(photometric=PALETTE, bits=(4,), colormap=48, compression=NONE)))
    v.append(Variant("pal4_packbits_be_37x23",
                     saved(lambda: ph.fit("chelsea", 37, 23), "-B", "-c", "packbits", "-r", "4", pre=im_pal4),
                     dict(order="MM", photometric=PALETTE, bits=(4,), compression=PACKBITS, strips=6)))
    # Pillow stores colour map values as v * 256, which ImageMagick scales by 255 / 65535.
    map_fault = {"im": "ImageMagick reads a colour map value v * 256 as v - 1"}
    v.append(Variant("pal8_67x45", saved(lambda: ph.fit("chelsea", 67, 45).quantize(200)),
                     dict(photometric=PALETTE, bits=(8,), colormap=768, compression=NONE), known_fault=map_fault))
    v.append(Variant("pal8_packbits_33x21", saved(lambda: ph.fit("coffee", 33, 21).quantize(256), "-c", "packbits"),
                     dict(photometric=PALETTE, bits=(8,), compression=PACKBITS, strips=1), known_fault=map_fault))

    # -- RGB, RGB with alpha, CMYK
    v.append(Variant("rgb_67x45", saved(lambda: ph.fit("chelsea", 67, 45)),
                     dict(photometric=RGB, bits=(8, 8, 8), samples=3, compression=NONE)))
    v.append(Variant("rgb_1x1", saved(lambda: ph.fit("coffee", 1, 1)),
                     dict(photometric=RGB, samples=3)))
    v.append(Variant("rgb_be_packbits_strips_67x45",
                     saved(lambda: ph.fit("astronaut", 67, 45), "-B", "-c", "packbits", "-r", "7"),
                     dict(order="MM", photometric=RGB, compression=PACKBITS, strips=7, offset_type=LONG)))
    v.append(Variant("rgb_le_strips_33x21", saved(lambda: ph.fit("coffee", 33, 21), "-L", "-r", "4"),
                     dict(order="II", photometric=RGB, compression=NONE, strips=6, offset_type=LONG)))

    def rgba(img_fn):
        def make():
            img = img_fn().convert("RGBA")
            alpha = ImageOps.invert(img.convert("L"))  # varies, so that it must be ignored
            img.putalpha(alpha)
            return img
        return make
    alpha_fault = {"netpbm": "tifftopnm composes the alpha sample onto black"}
    v.append(Variant("rgba_33x21", saved(rgba(lambda: ph.fit("astronaut", 33, 21))),
                     dict(photometric=RGB, bits=(8, 8, 8, 8), samples=4), known_fault=alpha_fault))
    v.append(Variant("rgba_packbits_be_37x23", saved(rgba(lambda: ph.fit("chelsea", 37, 23)), "-B", "-c", "packbits", "-r", "9"),
                     dict(order="MM", photometric=RGB, samples=4, compression=PACKBITS, strips=3),
                     known_fault=alpha_fault))

    # Pillow's own conversion leaves K at 0; these carry the grey part in K. Every peer
    # turns CMYK into RGB by multiplying, so the reference is the rule, not a peer.
    def cmyk(img_fn):
        def make():
            r, g, b = img_fn().split()
            c, m, y = (ImageOps.invert(band) for band in (r, g, b))
            k = ImageChops.darker(ImageChops.darker(c, m), y)
            return Image.merge("CMYK", [ImageChops.subtract(band, k) for band in (c, m, y)] + [k])
        return make
    cmyk_fault = {p: "converts CMYK as (255 - C)(255 - K) / 255" for p in ("pil", "im", "netpbm")}
    v.append(Variant("cmyk_37x23", saved(cmyk(lambda: ph.fit("coffee", 37, 23))),
                     dict(photometric=CMYK, bits=(8, 8, 8, 8), samples=4), ref="cmyk", known_fault=cmyk_fault))
    v.append(Variant("cmyk_packbits_be_33x21",
                     saved(cmyk(lambda: ImageOps.autocontrast(ph.fit("astronaut", 33, 21))),
                           "-B", "-c", "packbits", "-r", "6"),
                     dict(order="MM", photometric=CMYK, compression=PACKBITS, strips=4), ref="cmyk",
                     known_fault=cmyk_fault))

    # -- SHORT strip offsets (libtiff always writes LONG)
    def short_offsets(img_fn, rows, big_endian):
        def make(path, tmp):
            first = os.path.join(tmp, "first.tif")
            img_fn().save(first)
            tiffcp(first, path, "-B" if big_endian else "-L", "-r", str(rows))
            with open(path, "rb") as f:
                data = with_short_offsets(f.read())
            with open(path, "wb") as f:
                f.write(data)
        return make
    v.append(Variant("rgb_short_offsets_inline_be_9x4", short_offsets(lambda: ph.fit("chelsea", 9, 4), 2, True),
                     dict(order="MM", photometric=RGB, strips=2, offset_type=SHORT)))
    v.append(Variant("grey8_short_offsets_37x23", short_offsets(camera(37, 23), 3, False),
                     dict(order="II", photometric=BLACK_IS_ZERO, strips=8, offset_type=SHORT)))

    # -- valid files our reader refuses
    def reject(name, make, expect, message):
        v.append(Variant(name, make, expect, message=message))
    reject("lzw_rgb_33x21", saved(lambda: ph.fit("coffee", 33, 21), "-c", "lzw"),
           dict(compression=LZW), "TIFF: Unsupported compression LZW")
    reject("jpeg_grey_32x24", saved(camera(32, 24), "-c", "jpeg"),
           dict(compression=JPEG, photometric=BLACK_IS_ZERO), "TIFF: Unsupported compression 7")
    reject("deflate_rgb_33x21", saved(lambda: ph.fit("chelsea", 33, 21), "-c", "zip"),
           dict(compression=DEFLATE), "TIFF: Unsupported compression 8")
    reject("planar_separate_rgb_33x21", saved(lambda: ph.fit("astronaut", 33, 21), "-p", "separate"),
           dict(planar=2, samples=3), "TIFF: PlanarConfiguration invalid")
    reject("grey16_33x21", saved(camera(33, 21), pre=lambda img, p: im_write(img, p, "-depth", "16")),
           dict(bits=(16,)), "TIFF: Invalid SamplesPerPixel")
    reject("rgb16_33x21", saved(lambda: ph.fit("chelsea", 33, 21),
                                pre=lambda img, p: im_write(img, p, "-depth", "16")),
           dict(bits=(16, 16, 16)), "TIFF: Invalid SamplesPerPixel")
    return v


# ---------------------------------------------------------------- driver

DECODERS = {"pil": decode_pil, "im": decode_im, "netpbm": decode_netpbm}
PEER_NAMES = {"pil": "Pillow", "im": "ImageMagick", "netpbm": "netpbm"}


def build(var, out_dir, tmp):
    folder = os.path.join(out_dir, "reject") if var.message else out_dir
    path = os.path.join(folder, var.name + ".tif")
    crafted = var.make(path, tmp)
    with open(path, "rb") as f:
        data = f.read()
    got = summary(data)
    for key, want in var.expect.items():
        if got[key] != want:
            raise CorpusError("%s: %s is %r, wanted %r" % (var.name, key, got[key], want))
    if var.message:
        decode_pil(path)  # a file a peer reads
        return "%s.tif\t%s\n" % (var.name, var.message)

    decoded = {p: DECODERS[p](path) for p in DECODERS}
    ref = cmyk_reference(path) if var.ref == "cmyk" else decoded[var.ref]
    if crafted is not None and diff_count(ref, crafted) != 0:
        raise CorpusError("%s: decodes %d pixels other than were crafted" % (var.name, diff_count(ref, crafted)))
    for peer, img in decoded.items():
        n = diff_count(ref, img)
        if n and peer not in var.known_fault:
            raise CorpusError("%s: %s differs from the reference on %d pixels" % (var.name, PEER_NAMES[peer], n))
        if peer in var.known_fault:
            notes.append("%s: %s differs on %d of %d pixels (%s)"
                         % (var.name, PEER_NAMES[peer], n, ref.width * ref.height, var.known_fault[peer]))
    if ref.size != (got["width"], got["height"]):
        raise CorpusError("%s: reference is %dx%d" % ((var.name,) + ref.size))
    write_ppm(ref, os.path.join(folder, var.name + ".ppm"))
    return None


def build_all(ph, out_dir):
    messages = []
    with tempfile.TemporaryDirectory() as tmp:
        for var in variants(ph):
            m = build(var, out_dir, tmp)
            if m:
                messages.append(m)
    with open(os.path.join(out_dir, "reject", "messages.txt"), "w") as f:
        f.writelines(messages)


if __name__ == "__main__":
    sys.exit(generator_main(sys.argv, build_all, notes))

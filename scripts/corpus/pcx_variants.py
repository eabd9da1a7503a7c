#!/usr/bin/python3
"""Writes the PCX reader test corpus: NAME.pcx plus NAME.ppm (reference pixels) per variant.

Usage: pcx_variants.py PHOTO_DIR OUT_DIR

PHOTO_DIR holds the source photos (chelsea.png, coffee.png, astronaut.png, camera.png,
page.png). Files are small odd-sized crops and scalings of the photos, written by Pillow,
by netpbm's ppmtopcx (which also takes PBM input: netpbm has no separate pbmtopcx) and by
ImageMagick, or derived here from such files by changing header bytes. Every file is
decoded by three peers: Pillow, netpbm's pcxtoppm and ImageMagick. The reference is
Pillow's decode; the other peers must agree pixel for pixel unless a known fault is noted:

- ImageMagick decodes 1-bit files inverted.
- netpbm colours a 1-bit file with the first two entries of the header palette; Pillow
  and our reader show black and white whatever the header holds.
- No peer gives a version-3 16-colour file the standard 16-colour palette. That file is
  derived from a netpbm file by setting its version to 3; its reference is the peers'
  decode of a twin file (version 5) whose header palette holds the standard colours.

OUT_DIR/reject/ holds files our reader must refuse: palette info 2, a 256-colour file with
bytes after the palette block, a 256-colour file without the 0x0C marker, and a file with
2 bits per plane (decoded by netpbm to prove it is readable).

Called by scripts/make-test-corpus.sh.
"""
import io
import os
import struct
import sys

from PIL import Image

from corpus_common import IM, CorpusError, decode_im, decode_pil, diff_count, generator_main, read_pnm, run, write_ppm

# The standard 16 colours of a version-3 16-colour file (what our reader uses then).
SYS16 = [(0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
         (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
         (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
         (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF)]

INVERTED = {"im": "ImageMagick decodes 1-bit PCX inverted"}

notes = []  # peer disagreements that are expected, for the summary


# ---------------------------------------------------------------- peers

def decode_net(path):
    """netpbm's decoding, in RGB."""
    return read_pnm(run(["pcxtoppm", path], what=path), path)


DECODERS = {"pil": decode_pil, "net": decode_net, "im": decode_im}
PEER_NAMES = {"pil": "Pillow", "net": "netpbm", "im": "ImageMagick"}


def pil_write(img, path):
    img.save(path, "PCX")


def im_write(img, path):
    """ImageMagick encodes img; a palette image goes over as PNG so its colours stay."""
    buf = io.BytesIO()
    fmt = "png" if img.mode == "P" else "ppm"
    img.save(buf, fmt)
    run([IM, fmt + ":-", "pcx:" + path], data=buf.getvalue(), what=path)


def net_write(img, path, *args):
    """ppmtopcx encodes img: a 1-bit image goes over as PBM, anything else as PPM."""
    buf = io.BytesIO()
    img.save(buf, "PPM")  # Pillow writes P4 for mode "1"
    with open(path, "wb") as f:
        f.write(run(["ppmtopcx", *args], data=buf.getvalue(), what=path))


# ---------------------------------------------------------------- headers

def parse_header(data):
    if len(data) < 128 or data[0] != 10:
        raise CorpusError("no PCX header")
    xmin, ymin, xmax, ymax = struct.unpack_from("<4h", data, 4)
    h = {"version": data[1], "bits": data[3], "planes": data[65],
         "bpl": struct.unpack_from("<H", data, 66)[0],
         "palinfo": struct.unpack_from("<H", data, 68)[0], "reserved": data[64],
         "width": xmax - xmin + 1, "height": ymax - ymin + 1,
         "pal16": [tuple(data[16 + 3 * i:19 + 3 * i]) for i in range(16)],
         "marker": data[-769] if len(data) >= 128 + 769 else None}
    need = (h["width"] + 7) // 8 if h["bits"] == 1 else h["width"]
    h["padded"] = h["bpl"] > need
    h["palette_found"] = h["marker"] == 12
    return h


def with_bytes(data, changes):
    """data with the bytes at the given offsets replaced."""
    out = bytearray(data)
    for at, value in changes.items():
        out[at:at + len(value)] = value
    return bytes(out)


def rle(line):
    out = bytearray()
    i = 0
    while i < len(line):
        n = 1
        while i + n < len(line) and n < 63 and line[i + n] == line[i]:
            n += 1
        if n > 1 or line[i] >= 0xC0:
            out.append(0xC0 | n)
        out.append(line[i])
        i += n
    return bytes(out)


# ---------------------------------------------------------------- variants

class Variant:
    """One corpus file.

    make(path) writes the file and may return the image its reference is taken from (for
    derived files whose own decodes the peers get wrong). expect: header fields the file
    must have. known_fault: peer -> why its decode is allowed to differ.
    """

    def __init__(self, name, make, expect, known_fault=None, reject=False):
        self.name, self.make, self.expect = name, make, expect
        self.known_fault = known_fault or {}
        self.reject = reject


def variants(ph, out_dir):
    v = []

    def peer(writer, img, *args):
        return lambda path: writer(img(), path, *args)

    def mono(name, w, h):
        return lambda: ph.fit(name, w, h).convert("L").convert("1")

    def two_colours(name, w, h):
        return lambda: ph.fit(name, w, h).quantize(2, dither=Image.Dither.NONE).convert("RGB")

    # -- 1 bit
    v.append(Variant("pil_1bit_67x45", peer(pil_write, mono("page", 67, 45)),
                     dict(bits=1, planes=1, padded=True), INVERTED))
    v.append(Variant("net_1bit_33x21", peer(net_write, mono("camera", 33, 21)),
                     dict(bits=1, planes=1, padded=False, pal16=None), INVERTED))
    v.append(Variant("net_1bit_pal2_33x21", peer(net_write, two_colours("coffee", 33, 21)),
                     dict(bits=1, planes=1),
                     dict(INVERTED, net="netpbm colours 1-bit files with the header palette")))
    v.append(Variant("pil_1bit_5x3", peer(pil_write, mono("astronaut", 5, 3)),
                     dict(bits=1, planes=1, padded=True), INVERTED))

    # -- 4 planes of 1 bit, 16 colours in the header
    def sixteen(name, w, h):
        return lambda: ph.fit(name, w, h).quantize(16).convert("RGB")
    v.append(Variant("net_16_67x45", peer(net_write, sixteen("chelsea", 67, 45)),
                     dict(bits=1, planes=4, version=5)))
    v.append(Variant("net_16_5x3", peer(net_write, sixteen("coffee", 5, 3)),
                     dict(bits=1, planes=4, version=5)))

    def version3(path):
        """A 16-colour file of version 3: the twin with the standard colours in its
        header (version 5) is what the peers must decode like our reader does."""
        net_write(sixteen("astronaut", 33, 21)(), path)
        with open(path, "rb") as f:
            data = f.read()
        if parse_header(data)["pal16"] == SYS16:
            raise CorpusError("%s: header palette is the standard one already" % path)
        with open(path, "wb") as f:
            f.write(with_bytes(data, {1: b"\x03"}))
        twin = path[:-4] + ".twin.pcx"
        with open(twin, "wb") as f:
            f.write(with_bytes(data, {16: bytes(c for rgb in SYS16 for c in rgb)}))
        decoded = {p: DECODERS[p](twin) for p in DECODERS}
        os.remove(twin)
        for p, img in decoded.items():
            if diff_count(img, decoded["pil"]) != 0:
                raise CorpusError("%s: %s decodes the twin otherwise" % (path, PEER_NAMES[p]))
        return decoded["pil"]
    v.append(Variant("crafted_16_v3_33x21", version3, dict(bits=1, planes=4, version=3)))

    # -- 8 bits with the palette block at the end
    v.append(Variant("pil_8bit_67x45", peer(pil_write, lambda: ph.fit("chelsea", 67, 45).quantize(256)),
                     dict(bits=8, planes=1, padded=True, marker=12)))
    v.append(Variant("pil_grey_33x21", peer(pil_write, lambda: ph.fit("camera", 33, 21).convert("L")),
                     dict(bits=8, planes=1, padded=True, marker=12, palinfo=1)))
    v.append(Variant("im_8bit_33x21", peer(im_write, lambda: ph.fit("coffee", 33, 21).quantize(200)),
                     dict(bits=8, planes=1, padded=False, marker=12)))
    v.append(Variant("net_8bit_67x45", peer(net_write, lambda: ph.fit("astronaut", 67, 45).quantize(64).convert("RGB"), "-8bit"),
                     dict(bits=8, planes=1, marker=12)))

    # -- 3 planes of 8 bits
    v.append(Variant("pil_rgb_67x45", peer(pil_write, lambda: ph.fit("astronaut", 67, 45)),
                     dict(bits=8, planes=3, padded=True)))
    v.append(Variant("pil_rgb_227x3", peer(pil_write, lambda: ph.strip("chelsea", 227, 3)),
                     dict(bits=8, planes=3, padded=True)))
    v.append(Variant("im_rgb_33x21", peer(im_write, lambda: ph.fit("coffee", 33, 21)),
                     dict(bits=8, planes=3, padded=False)))
    v.append(Variant("net_rgb_5x3", peer(net_write, lambda: ph.fit("chelsea", 5, 3), "-24bit"),
                     dict(bits=8, planes=3)))

    # -- files our reader refuses, derived from valid ones
    def derived(img, change):
        def make(path):
            pil_write(img(), path)
            with open(path, "rb") as f:
                data = f.read()
            with open(path, "wb") as f:
                f.write(change(data))
        return make
    v.append(Variant("palinfo2_grey_33x21",
                     derived(lambda: ph.fit("camera", 33, 21).convert("L"),
                             lambda d: with_bytes(d, {68: b"\x02\x00"})),
                     dict(bits=8, planes=1, palinfo=2), reject=True))
    v.append(Variant("bytes_after_palette_33x21",
                     derived(lambda: ph.fit("coffee", 33, 21).quantize(256), lambda d: d + bytes(16)),
                     dict(bits=8, planes=1, palette_found=False), reject=True))
    v.append(Variant("no_palette_marker_33x21",
                     derived(lambda: ph.fit("chelsea", 33, 21).quantize(256),
                             lambda d: with_bytes(d, {len(d) - 769: b"\x00"})),
                     dict(bits=8, planes=1, marker=0), reject=True))

    def two_bits(path):
        """4 colours, 2 bits per pixel in one plane; netpbm must read the indices back."""
        q = ph.fit("astronaut", 33, 21).quantize(4, dither=Image.Dither.NONE)
        w, h = q.size
        bpl = (w * 2 + 15) // 16 * 2
        pal = bytes(q.getpalette()[:12])
        head = struct.pack("<BBBBhhhhHH48sBBHH58s", 10, 5, 1, 2, 0, 0, w - 1, h - 1, 72, 72,
                           pal + bytes(36), 0, 1, bpl, 1, bytes(58))
        data = bytearray(head)
        idx = q.tobytes()
        for y in range(h):
            line = bytearray(bpl)
            for x in range(w):
                line[x // 4] |= idx[y * w + x] << (6 - 2 * (x % 4))
            data += rle(line)
        with open(path, "wb") as f:
            f.write(data)
        got = decode_net(path)
        if got.size != (w, h) or len(set(got.getdata())) > 4:
            raise CorpusError("%s: netpbm does not read the 2-bit file" % path)
        groups = {}
        for i, c in zip(idx, got.getdata()):
            groups.setdefault(i, set()).add(c)
        if any(len(s) != 1 for s in groups.values()):
            raise CorpusError("%s: netpbm reads other indices than were written" % path)
    v.append(Variant("bits2_33x21", two_bits, dict(bits=2, planes=1), reject=True))
    return v


# ---------------------------------------------------------------- driver

def build(var, out_dir):
    folder = os.path.join(out_dir, "reject") if var.reject else out_dir
    path = os.path.join(folder, var.name + ".pcx")
    given = var.make(path)
    with open(path, "rb") as f:
        hdr = parse_header(f.read())
    for key, want in var.expect.items():
        got = hdr[key]
        if key == "pal16" and want is None:  # black and white in the header
            if got[:2] != [(0, 0, 0), (255, 255, 255)]:
                raise CorpusError("%s: header palette starts %r" % (var.name, got[:2]))
        elif got != want:
            raise CorpusError("%s: %s is %r, wanted %r" % (var.name, key, got, want))
    if var.reject:
        return

    if given is not None:
        ref = given
    else:
        decoded = {p: DECODERS[p](path) for p in DECODERS}
        ref = decoded["pil"]
        for p, img in decoded.items():
            n = diff_count(ref, img)
            if p in var.known_fault:
                notes.append("%s: %s differs on %d of %d pixels (%s)"
                             % (var.name, PEER_NAMES[p], n, ref.width * ref.height, var.known_fault[p]))
            elif n:
                raise CorpusError("%s: Pillow and %s disagree on %d pixels" % (var.name, PEER_NAMES[p], n))
    if ref.size != (hdr["width"], hdr["height"]):
        raise CorpusError("%s: reference is %dx%d" % ((var.name,) + ref.size))
    write_ppm(ref, os.path.join(folder, var.name + ".ppm"))


def build_all(ph, out_dir):
    for var in variants(ph, out_dir):
        build(var, out_dir)


if __name__ == "__main__":
    sys.exit(generator_main(sys.argv, build_all, notes))

#!/usr/bin/python3
"""Writes the JPEG codec test corpus: NAME.jpg plus NAME.ppm (reference pixels) per variant.

Usage: jpeg_variants.py PHOTO_DIR OUT_DIR

PHOTO_DIR holds the source photos (chelsea.png, coffee.png, astronaut.png, camera.png,
page.png). The files are small crops of them, written by cjpeg, Pillow or ImageMagick.
The reference of each is what djpeg decodes with the accurate integer transform
(`-dct int`, our default decoding method), as RGB even for grey files. Pillow and
ImageMagick must decode every file to exactly the same pixels. The header of every finished file is read back
and checked against what the variant is meant to pin (frame type, components, sampling,
restart interval, markers), so a peer that writes something else stops the run.

Called by scripts/make-test-corpus.sh. The variants, in variants() below: baseline 4:2:0 at
odd sizes down to 1x1, 4:2:2, 4:4:4, optimised tables, restart markers after every MCU row,
progressive (4:2:0, 4:4:4, grey), grey, arithmetic coding, files by Pillow and ImageMagick,
and in reject/ Adobe CMYK and YCCK files, which our reader refuses (no reference).
source/ holds lossless crops of the photos (P6) for the tests of our writer.
"""
import io
import os
import struct
import sys

from corpus_common import IM, CorpusError, decode_im, decode_pil, diff_count, generator_main, read_pnm, run, write_ppm


# ---------------------------------------------------------------- writers

def pnm_bytes(img):
    buf = io.BytesIO()
    img.save(buf, "PPM")  # P6 for RGB, P5 for L
    return buf.getvalue()


def cjpeg(img, *args):
    def make(path):
        run(["cjpeg", *args, "-outfile", path], pnm_bytes(img()), path)
    return make


def pillow(img, **opts):
    def make(path):
        img().save(path, "JPEG", **opts)
    return make


def imagemagick(img, *args):
    def make(path):
        run([IM, "ppm:-", *args, "jpg:" + path], pnm_bytes(img()), path)
    return make


# ---------------------------------------------------------------- decoders

def decode_djpeg(path):
    return read_pnm(run(["djpeg", "-dct", "int", "-rgb", "-pnm", path], what=path), path)


# ---------------------------------------------------------------- reading headers back

SOF_TYPES = {0xC0, 0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF}


def parse_header(data):
    if data[:2] != b"\xff\xd8":
        raise CorpusError("no SOI marker")
    h = {"jfif": False, "adobe": False, "restart": 0, "scans": 0}
    pos = 2
    while pos + 4 <= len(data):
        if data[pos] != 0xFF:
            raise CorpusError("marker expected at %d" % pos)
        marker = data[pos + 1]
        if marker == 0xD9:
            break
        length = struct.unpack_from(">H", data, pos + 2)[0]
        body = data[pos + 4:pos + 2 + length]
        if marker == 0xE0 and body[:5] == b"JFIF\0":
            h["jfif"] = True
        elif marker == 0xEE and body[:5] == b"Adobe":
            h["adobe"] = True
            h["transform"] = body[11]
        elif marker == 0xDD:
            h["restart"] = struct.unpack_from(">H", body)[0]
        elif marker in SOF_TYPES:
            _, height, width, n = struct.unpack_from(">BHHB", body)
            h.update(sof=marker, width=width, height=height, components=n,
                     sampling=[(body[6 + 3 * i + 1] >> 4, body[6 + 3 * i + 1] & 15)
                               for i in range(n)])
        pos += 2 + length
        if marker == 0xDA:
            h["scans"] += 1
            # skip the entropy-coded data up to the next marker that is not a restart
            while pos + 1 < len(data) and not (data[pos] == 0xFF and data[pos + 1] not in
                                               (0x00, *range(0xD0, 0xD8))):
                pos += 1
    return h


# ---------------------------------------------------------------- variants

class Variant:
    def __init__(self, name, make, expect, reject=False):
        self.name, self.make, self.expect, self.reject = name, make, expect, reject


def variants(ph):
    v = []
    S420 = [(2, 2), (1, 1), (1, 1)]
    S444 = [(1, 1), (1, 1), (1, 1)]

    def base(w, h, sampling, **more):
        return dict(sof=0xC0, width=w, height=h, components=3, sampling=sampling, jfif=True,
                    **more)

    # -- baseline, the common case: 4:2:0, odd sizes that leave partial blocks and MCUs
    v.append(Variant("baseline420_67x45", cjpeg(lambda: ph.fit("chelsea", 67, 45), "-quality", "85"),
                     base(67, 45, S420)))
    v.append(Variant("baseline420_227x3", cjpeg(lambda: ph.strip("chelsea", 227, 3)),
                     base(227, 3, S420)))
    v.append(Variant("baseline420_5x3", cjpeg(lambda: ph.fit("astronaut", 5, 3)), base(5, 3, S420)))
    v.append(Variant("baseline420_1x1", cjpeg(lambda: ph.fit("coffee", 1, 1)), base(1, 1, S420)))
    v.append(Variant("baseline444_33x21",
                     cjpeg(lambda: ph.fit("coffee", 33, 21), "-sample", "1x1", "-quality", "92"),
                     base(33, 21, S444)))
    v.append(Variant("baseline422_31x17",
                     cjpeg(lambda: ph.fit("astronaut", 31, 17), "-sample", "2x1"),
                     base(31, 17, [(2, 1), (1, 1), (1, 1)])))
    # Optimised Huffman tables and a restart marker after every MCU row.
    v.append(Variant("optimized_67x45", cjpeg(lambda: ph.fit("astronaut", 67, 45), "-optimize"),
                     base(67, 45, S420)))
    v.append(Variant("restart_67x45",
                     cjpeg(lambda: ph.fit("coffee", 67, 45), "-restart", "1"),
                     base(67, 45, S420, restart=5)))

    # -- progressive
    v.append(Variant("progressive_67x45",
                     cjpeg(lambda: ph.fit("astronaut", 67, 45), "-progressive"),
                     dict(sof=0xC2, width=67, height=45, components=3, sampling=S420)))
    v.append(Variant("progressive444_33x21",
                     cjpeg(lambda: ph.fit("chelsea", 33, 21), "-progressive", "-sample", "1x1"),
                     dict(sof=0xC2, width=33, height=21, components=3, sampling=S444)))

    # -- greyscale (grey input gives a one-component file)
    grey = lambda w, h: lambda: ph.fit("camera", w, h).convert("L")
    v.append(Variant("grey_67x45", cjpeg(grey(67, 45)),
                     dict(sof=0xC0, width=67, height=45, components=1, jfif=True)))
    v.append(Variant("grey_progressive_33x21", cjpeg(grey(33, 21), "-progressive"),
                     dict(sof=0xC2, width=33, height=21, components=1)))

    # -- arithmetic coding, which the library decodes too
    v.append(Variant("arithmetic_33x21", cjpeg(lambda: ph.fit("chelsea", 33, 21), "-arithmetic"),
                     dict(sof=0xC9, width=33, height=21, components=3, sampling=S420)))

    # -- other writers
    v.append(Variant("pillow_67x45", pillow(lambda: ph.fit("coffee", 67, 45), quality=80),
                     base(67, 45, S420)))
    v.append(Variant("imagemagick_33x21",
                     imagemagick(lambda: ph.fit("astronaut", 33, 21), "-quality", "75"),
                     base(33, 21, S420)))

    # -- four components: our reader refuses them, its info describes them. The Adobe
    # marker's transform tells plain CMYK (0, as Pillow writes it) from YCCK (2, as
    # ImageMagick writes "-colorspace CMYK").
    v.append(Variant("cmyk_adobe_33x21",
                     pillow(lambda: ph.fit("coffee", 33, 21).convert("CMYK"), quality=90),
                     dict(width=33, height=21, components=4, adobe=True, transform=0),
                     reject=True))
    v.append(Variant("ycck_adobe_33x21",
                     imagemagick(lambda: ph.fit("coffee", 33, 21), "-colorspace", "CMYK"),
                     dict(width=33, height=21, components=4, adobe=True, transform=2),
                     reject=True))
    return v


def sources(ph):
    """Lossless crops for the writer tests: NAME -> image (grey ones as RGB)."""
    return {
        "chelsea_67x45": ph.crop("chelsea", 180, 90, 67, 45),
        "astronaut_67x45": ph.crop("astronaut", 190, 80, 67, 45),
        "coffee_227x3": ph.crop("coffee", 200, 180, 227, 3),
        "grey_camera_67x45": ph.crop("camera", 200, 120, 67, 45).convert("L").convert("RGB"),
    }


# ---------------------------------------------------------------- driver

def build(var, out_dir):
    folder = os.path.join(out_dir, "reject") if var.reject else out_dir
    path = os.path.join(folder, var.name + ".jpg")
    var.make(path)
    with open(path, "rb") as f:
        hdr = parse_header(f.read())
    for key, want in var.expect.items():
        if hdr.get(key) != want:
            raise CorpusError("%s: %s is %r, wanted %r" % (var.name, key, hdr.get(key), want))
    if var.reject:
        return
    if hdr["sof"] == 0xC2 and hdr["scans"] < 2:
        raise CorpusError("%s: progressive file with %d scan" % (var.name, hdr["scans"]))
    ref = decode_djpeg(path)
    if ref.size != (hdr["width"], hdr["height"]):
        raise CorpusError("%s: reference is %dx%d" % ((var.name,) + ref.size))
    for peer, decode in (("Pillow", decode_pil), ("ImageMagick", decode_im)):
        n = diff_count(ref, decode(path))
        if n:
            raise CorpusError("%s: djpeg and %s disagree on %d pixels" % (var.name, peer, n))
    write_ppm(ref, os.path.join(folder, var.name + ".ppm"))


def build_all(ph, out_dir):
    os.makedirs(os.path.join(out_dir, "source"), exist_ok=True)
    for var in variants(ph):
        build(var, out_dir)
    for name, img in sources(ph).items():
        write_ppm(img, os.path.join(out_dir, "source", name + ".ppm"))


if __name__ == "__main__":
    sys.exit(generator_main(sys.argv, build_all))

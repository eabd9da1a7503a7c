#!/usr/bin/python3
"""Writes the PBM/PGM/PPM codec test corpus: NAME.pbm, NAME.pgm or NAME.ppm per variant,
with its reference pixels in ref/NAME.ppm (a folder of their own, since a reference beside
a .ppm variant would have the variant's name).

Usage: pnm_variants.py PHOTO_DIR OUT_DIR

PHOTO_DIR holds the source photos (chelsea.png, coffee.png, astronaut.png, camera.png,
page.png). Files are written by netpbm (pngtopnm, pnmtoplainpnm, pamdepth), ImageMagick
and Pillow from small odd-sized crops of the photos, or crafted here; crafted files must
decode to the pixels they were crafted from.

Every file is decoded by three peers: Pillow, ImageMagick and netpbm (ppmtoppm). With
maxval 255 the reference is Pillow's decode and the other two must agree exactly. With
another maxval the peers round their scaling each their own way, so the reference applies
our reader's rule to the file's raw samples (sample * 255 div maxval) and every peer must
come within 1 of it.

OUT_DIR/reject/ holds files our reader must refuse: binary samples of 16 bits and a
maxval of 0 (crafted; peers refuse it too).

Variants (type, who wrote it, size): P4, P5, P6 by Pillow, netpbm (pngtopnm) and
ImageMagick; P1 by ImageMagick (`-compress none`, digits apart) and netpbm (a row's digits
packed into one run); P2, P3 by netpbm (pnmtoplainpnm) and
ImageMagick; maxval 15 (P5, P2) and 100 (P6, P3) by pamdepth; an ASCII PGM with maxval
65535; a P6 and a P2 with comments between the header fields (and, in the P2, after every
row), crafted. Sizes 1x1, 5x3, 33x21, 67x45 and 227x3.

Peer faults met here: Pillow 9.4 reads 16-bit grey as 32-bit integers and clips them to
255 on conversion to RGB instead of scaling them (noted, not used as reference).

Called by scripts/make-test-corpus.sh.
"""
import io
import os
import sys

from PIL import Image

from corpus_common import IM, CorpusError, decode_pil, diff_count, generator_main, run, write_ppm

EXT = {"1": "pbm", "2": "pgm", "3": "ppm", "4": "pbm", "5": "pgm", "6": "ppm"}

notes = []  # peer disagreements that are expected, for the summary


# ---------------------------------------------------------------- peers

def decode_netpbm(path):
    """netpbm's decoding, in RGB; samples of another maxval brought to 0..255 by pamdepth."""
    with open(path, "rb") as f:
        data = f.read()
    out = run(["ppmtoppm"], data, path)
    if parse(out)["maxval"] != 255:
        out = run(["pamdepth", "255"], out, path)
    return Image.open(io.BytesIO(out)).convert("RGB")


PEER_NAMES = {"pil": "Pillow", "im": "ImageMagick", "netpbm": "netpbm"}


def to_png(img):
    buf = io.BytesIO()
    img.save(buf, "png")
    return buf.getvalue()


def netpbm_write(img, path, *tools):
    """netpbm decodes a PNG of img and passes the result through the tools given."""
    data = run(["pngtopnm"], to_png(img), path)
    for tool in tools:
        data = run(list(tool), data, path)
    with open(path, "wb") as f:
        f.write(data)


def im_write(img, path, *args):
    coder = EXT[{"1": "1", "L": "2", "RGB": "3"}[img.mode]]
    run([IM, "png:-", *args, "%s:%s" % (coder, path)], to_png(img), path)


# ---------------------------------------------------------------- reading files back

def parse(data):
    """Type, size, maxval and raw samples (row-major, channels interleaved) of a file,
    by the format's plain rules (whitespace and comments between header fields)."""
    pos = 2
    fields = []
    kind = data[1:2].decode()
    want = 2 if kind in "14" else 3
    while len(fields) < want:
        c = data[pos:pos + 1]
        if c == b"#":
            pos = data.index(b"\n", pos)
        elif c.isdigit():
            end = pos
            while data[end:end + 1].isdigit():
                end += 1
            fields.append(int(data[pos:end]))
            pos = end
            continue
        pos += 1
    pos += 1  # the byte that ends the last field; binary samples follow it
    w, h = fields[0], fields[1]
    maxval = fields[2] if want == 3 else 1
    channels = 3 if kind in "36" else 1
    n = w * h * channels
    if kind in "123":
        tokens = []
        for line in data[pos:].split(b"\n"):
            tokens += line.split(b"#")[0].split()
        samples = [int(t) for t in tokens]
        if kind == "1":  # one digit per pixel, spaces or not
            samples = [int(c) for t in tokens for c in t.decode()]
    elif kind == "4":
        stride = (w + 7) // 8
        samples = [(data[pos + y * stride + x // 8] >> (7 - x % 8)) & 1 for y in range(h) for x in range(w)]
    else:
        size = 2 if maxval > 255 else 1
        body = data[pos:pos + n * size]
        samples = [int.from_bytes(body[i:i + size], "big") for i in range(0, len(body), size)]
    return {"type": kind, "width": w, "height": h, "maxval": maxval, "channels": channels,
            "samples": samples[:n], "complete": len(samples) >= n}


def our_rule(hdr):
    """The pixels our reader makes of the raw samples."""
    s, m = hdr["samples"], hdr["maxval"]
    if hdr["type"] in "14":
        px = [(0, 0, 0) if v else (255, 255, 255) for v in s]
    elif hdr["channels"] == 1:
        px = [(min(255, v * 255 // m),) * 3 for v in s]
    else:
        px = [tuple(min(255, v * 255 // m) for v in s[i:i + 3]) for i in range(0, len(s), 3)]
    img = Image.new("RGB", (hdr["width"], hdr["height"]))
    img.putdata(px)
    return img


def max_diff(a, b):
    if a.size != b.size:
        return 256
    return max((abs(p - q) for pa, pb in zip(a.getdata(), b.getdata()) for p, q in zip(pa, pb)), default=0)


# ---------------------------------------------------------------- variants

class Variant:
    """One corpus file.

    make(path) writes it and returns the pixels it was crafted from (None when a peer
    wrote it). ref: "pil" (Pillow's decode, the others must agree) or "rule" (our
    reader's scaling, every peer within 1). expect: header fields the file must have.
    known_fault: peer -> why its decode is allowed to differ.
    """

    def __init__(self, name, kind, make, expect, ref="pil", known_fault=None, reject=False):
        self.name, self.ext, self.make, self.expect = name, EXT[kind], make, dict(expect, type=kind)
        self.ref, self.known_fault, self.reject = ref, known_fault or {}, reject


def variants(ph):
    v = []
    bw = lambda: ph.fit("page", 67, 45).convert("L").point(lambda g: 255 if g > 150 else 0).convert("1")
    bw_dither = lambda: ph.fit("camera", 33, 21).convert("L").convert("1")
    grey = lambda: ph.fit("camera", 67, 45).convert("L")
    grey_strip = lambda: ph.strip("coffee", 227, 3).convert("L")
    colour = lambda: ph.fit("chelsea", 67, 45)
    colour_small = lambda: ph.fit("astronaut", 5, 3)
    colour_odd = lambda: ph.fit("coffee", 33, 21)
    colour_dot = lambda: ph.fit("chelsea", 1, 1)

    def pil(img):
        def make(path):
            img().save(path)
        return make

    def im(img, *args):
        def make(path):
            im_write(img(), path, *args)
        return make

    def netpbm(img, *tools):
        def make(path):
            netpbm_write(img(), path, *tools)
        return make

    plain = ("pnmtoplainpnm",)

    # -- binary, maxval 255
    v.append(Variant("p4_pillow_67x45", "4", pil(bw), dict(width=67, height=45)))
    v.append(Variant("p4_netpbm_33x21", "4", netpbm(bw_dither), dict(width=33, height=21)))
    v.append(Variant("p4_im_67x45", "4", im(bw), dict(width=67, height=45)))
    v.append(Variant("p5_pillow_67x45", "5", pil(grey), dict(width=67, height=45, maxval=255)))
    v.append(Variant("p5_netpbm_227x3", "5", netpbm(grey_strip), dict(width=227, height=3, maxval=255)))
    v.append(Variant("p5_im_67x45", "5", im(grey, "-depth", "8"), dict(width=67, height=45, maxval=255)))
    v.append(Variant("p6_pillow_67x45", "6", pil(colour), dict(width=67, height=45, maxval=255)))
    v.append(Variant("p6_pillow_1x1", "6", pil(colour_dot), dict(width=1, height=1, maxval=255)))
    v.append(Variant("p6_netpbm_33x21", "6", netpbm(colour_odd), dict(width=33, height=21, maxval=255)))
    v.append(Variant("p6_im_5x3", "6", im(colour_small, "-depth", "8"), dict(width=5, height=3, maxval=255)))

    # -- ASCII, maxval 255
    v.append(Variant("p1_im_33x21", "1", im(bw_dither, "-compress", "none"), dict(width=33, height=21)))
    v.append(Variant("p1_netpbm_packed_33x21", "1", netpbm(bw_dither, plain), dict(width=33, height=21)))
    v.append(Variant("p2_netpbm_67x45", "2", netpbm(grey, plain), dict(width=67, height=45, maxval=255)))
    v.append(Variant("p2_im_227x3", "2", im(grey_strip, "-depth", "8", "-compress", "none"),
                     dict(width=227, height=3, maxval=255)))
    v.append(Variant("p3_netpbm_33x21", "3", netpbm(colour_odd, plain), dict(width=33, height=21, maxval=255)))
    v.append(Variant("p3_im_5x3", "3", im(colour_small, "-depth", "8", "-compress", "none"),
                     dict(width=5, height=3, maxval=255)))

    # -- other maxvals, scaled by our rule
    clip16 = {"pil": "Pillow clips 16-bit grey to 255 instead of scaling it"}
    v.append(Variant("p5_maxval15_67x45", "5", netpbm(grey, ("pamdepth", "15")),
                     dict(width=67, height=45, maxval=15), ref="rule"))
    v.append(Variant("p2_maxval15_33x21", "2", netpbm(lambda: ph.fit("astronaut", 33, 21).convert("L"), ("pamdepth", "15"), plain),
                     dict(width=33, height=21, maxval=15), ref="rule"))
    v.append(Variant("p6_maxval100_33x21", "6", netpbm(colour_odd, ("pamdepth", "100")),
                     dict(width=33, height=21, maxval=100), ref="rule"))
    v.append(Variant("p3_maxval100_67x45", "3", netpbm(colour, ("pamdepth", "100"), plain),
                     dict(width=67, height=45, maxval=100), ref="rule"))
    v.append(Variant("p2_maxval65535_33x21", "2", netpbm(lambda: ph.fit("coffee", 33, 21).convert("L"), ("pamdepth", "65535"), plain),
                     dict(width=33, height=21, maxval=65535), ref="rule",
                     known_fault=clip16))

    # -- comments between the header fields and among ASCII samples; crafted
    def commented(binary):
        def make(path):
            img = colour_odd() if binary else grey_strip()
            w, h = img.size
            if binary:
                head = b"P6\n# written by hand\n%d # width\n%d\n# maxval follows\n255\n" % (w, h)
                body = img.tobytes()
            else:
                head = b"P2 # grey\n%d %d\n#\n255\n" % (w, h)
                rows = [img.crop((0, y, w, y + 1)).tobytes() for y in range(h)]
                body = b"".join(b" ".join(b"%d" % s for s in r) + b" # row %d\n" % y for y, r in enumerate(rows))
            with open(path, "wb") as f:
                f.write(head + body)
            return img.convert("RGB")
        return make
    v.append(Variant("p6_comments_33x21", "6", commented(True), dict(width=33, height=21, maxval=255)))
    v.append(Variant("p2_comments_227x3", "2", commented(False), dict(width=227, height=3, maxval=255)))

    # -- files we refuse
    v.append(Variant("p5_16bit_33x21", "5", netpbm(lambda: ph.fit("camera", 33, 21).convert("L"), ("pamdepth", "65535")),
                     dict(maxval=65535), ref="rule", known_fault=clip16, reject=True))
    v.append(Variant("p6_16bit_5x3", "6", netpbm(colour_small, ("pamdepth", "65535")), dict(maxval=65535),
                     ref="rule", reject=True))

    def maxval0(kind):
        def make(path):
            with open(path, "wb") as f:
                f.write(b"P2\n2 1\n0\n0 0\n" if kind == "2" else b"P6\n2 1\n0\n" + bytes(6))
        return make
    v.append(Variant("p2_maxval0", "2", maxval0("2"), dict(maxval=0), ref=None, reject=True))
    v.append(Variant("p6_maxval0", "6", maxval0("6"), dict(maxval=0), ref=None, reject=True))
    return v


# ---------------------------------------------------------------- driver

def decode_im_all(paths, scratch):
    """ImageMagick's decodings of many files in one run (each start costs a tenth of a
    second), in RGB."""
    if not paths:
        return {}
    run([IM, *paths, "-depth", "8", "+adjoin", "ppm:" + os.path.join(scratch, "im-%d.ppm")], what="ImageMagick")
    out = {}
    for i, path in enumerate(paths):
        with open(os.path.join(scratch, "im-%d.ppm" % i), "rb") as f:
            out[path] = Image.open(io.BytesIO(f.read())).convert("RGB")
    return out


def make(var, out_dir):
    """Writes the file; returns its path, header and the pixels it was crafted from."""
    folder = os.path.join(out_dir, "reject") if var.reject else out_dir
    path = os.path.join(folder, "%s.%s" % (var.name, var.ext))
    crafted = var.make(path)
    with open(path, "rb") as f:
        data = f.read()
    hdr = parse(data)
    for key, want in var.expect.items():
        if hdr[key] != want:
            raise CorpusError("%s: %s is %r, wanted %r" % (var.name, key, hdr[key], want))
    if var.ref is not None and not hdr["complete"]:
        raise CorpusError("%s: fewer samples than the header says" % var.name)
    if var.name.startswith("p1_netpbm_packed") and b" " in data.split(b"\n", 2)[2]:
        raise CorpusError("%s: netpbm no longer packs plain PBM digits" % var.name)
    return path, hdr, crafted


def check(var, path, hdr, crafted, decoded, out_dir):
    """Compares the peers' decodes and writes the reference."""
    ref = our_rule(hdr) if var.ref == "rule" else decoded[var.ref]
    if crafted is not None and diff_count(ref, crafted) != 0:
        raise CorpusError("%s: %s decodes %d pixels other than were crafted"
                          % (var.name, PEER_NAMES[var.ref], diff_count(ref, crafted)))
    if var.ref == "pil" and diff_count(ref, our_rule(hdr)) != 0:
        raise CorpusError("%s: Pillow's decode is not the file's samples" % var.name)
    for peer, img in decoded.items():
        if peer == var.ref:
            continue
        off = max_diff(ref, img) if var.ref == "rule" else (diff_count(ref, img) and 256)
        if off > (1 if var.ref == "rule" else 0):
            if peer not in var.known_fault:
                raise CorpusError("%s: %s is off by %d from the reference" % (var.name, PEER_NAMES[peer], off))
            notes.append("%s: %s is off by %d (%s)" % (var.name, PEER_NAMES[peer], off, var.known_fault[peer]))
    if ref.size != (hdr["width"], hdr["height"]):
        raise CorpusError("%s: reference is %dx%d" % ((var.name,) + ref.size))
    if not var.reject:
        write_ppm(ref, os.path.join(out_dir, "ref", var.name + ".ppm"))


def build_all(ph, out_dir):
    os.makedirs(os.path.join(out_dir, "ref"), exist_ok=True)
    made = [(var,) + make(var, out_dir) for var in variants(ph)]
    checked = [m for m in made if m[0].ref is not None]
    scratch = os.path.join(out_dir, "im")
    os.makedirs(scratch, exist_ok=True)
    by_im = decode_im_all([m[1] for m in checked], scratch)
    for f in os.listdir(scratch):
        os.remove(os.path.join(scratch, f))
    os.rmdir(scratch)
    for var, path, hdr, crafted in checked:
        decoded = {"pil": decode_pil(path), "im": by_im[path], "netpbm": decode_netpbm(path)}
        check(var, path, hdr, crafted, decoded, out_dir)


if __name__ == "__main__":
    sys.exit(generator_main(sys.argv, build_all, notes))

"""What the corpus generators share: the source photos, running and decoding with peer
tools, comparing images and writing reference files."""
import io
import os
import subprocess
import sys

from PIL import Image

IM = "convert-im6.q16"


class CorpusError(Exception):
    pass


class Photos:
    """The source photos (NAME.png in a folder), loaded once, in RGB."""

    def __init__(self, folder):
        self.folder = folder
        self.cache = {}

    def full(self, name):
        if name not in self.cache:
            with Image.open(os.path.join(self.folder, name + ".png")) as im:
                self.cache[name] = im.convert("RGB")
            self.cache[name].info = {}  # no colour profile of the photo in the files
        return self.cache[name]

    def fit(self, name, w, h):
        """The whole photo scaled to w x h (the proportions are close enough)."""
        return self.full(name).resize((w, h), Image.LANCZOS)

    def part(self, name, box, w, h):
        """The region box (left, top, right, bottom) of the photo scaled to w x h."""
        return self.full(name).crop(box).resize((w, h), Image.LANCZOS)

    def crop(self, name, left, top, w, h):
        """A w x h part of the photo at its own resolution."""
        return self.full(name).crop((left, top, left + w, top + h))

    def strip(self, name, w, h):
        """A band of h rows from the middle of the photo scaled to width w."""
        src = self.full(name)
        full_h = max(h, round(w * src.height / src.width))
        im = src.resize((w, full_h), Image.LANCZOS)
        top = (full_h - h) // 2
        return im.crop((0, top, w, top + h))

    def fine(self, name, w, h):
        """The photo scaled to w x h with 16 bits per channel (lists of channel rows)."""
        out = []
        for band in self.full(name).split():
            f = band.convert("F").resize((w, h), Image.LANCZOS)
            out.append([[max(0, min(65535, round(f.getpixel((x, y)) * 257))) for x in range(w)]
                        for y in range(h)])
        return out


def run(cmd, data=None, what=""):
    """Runs a peer tool and returns its output; a failure stops the corpus."""
    try:
        r = subprocess.run(cmd, input=data, capture_output=True)
    except FileNotFoundError:
        raise CorpusError("%s missing; run scripts/install-deps.sh" % cmd[0])
    if r.returncode != 0:
        raise CorpusError("%s: %s failed: %s" % (what, cmd[0], r.stderr.decode(errors="replace").strip()))
    return r.stdout


def read_pnm(data, what):
    with Image.open(io.BytesIO(data)) as im:
        if im.mode != "RGB":
            raise CorpusError("%s: decoder gave mode %s" % (what, im.mode))
        return im.copy()


def decode_pil(path):
    """Pillow's decoding, in RGB."""
    with Image.open(path) as im:
        im.load()
        return im.convert("RGB")


def decode_im(path):
    """ImageMagick's decoding, in RGB."""
    return read_pnm(run([IM, path, "-depth", "8", "ppm:-"], what=path), path)


def diff_count(a, b):
    """Pixels in which two images differ; -1 when their sizes differ."""
    if a.size != b.size:
        return -1
    return sum(1 for p, q in zip(a.getdata(), b.getdata()) if p != q)


def write_ppm(img, path):
    """A reference file: binary P6, maxval 255, top row first."""
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % img.size + img.tobytes())


def indices_of(pimg):
    """Rows of palette indices (top row first) of a P-mode image."""
    w, h = pimg.size
    raw = pimg.tobytes()
    return [list(raw[y * w:(y + 1) * w]) for y in range(h)]


def palette_of(pimg, n):
    """The first n palette entries of a P-mode image as (r, g, b), padded with black."""
    pal = pimg.getpalette()[:3 * n]
    pal += [0] * (3 * n - len(pal))
    return [tuple(pal[i * 3:i * 3 + 3]) for i in range(n)]


def generator_main(argv, build_all, notes=()):
    """The command line of a generator, NAME_variants.py PHOTO_DIR OUT_DIR: build_all(photos,
    out_dir) writes the set into OUT_DIR (whose reject/ folder exists by then); the notes
    (expected peer disagreements) are printed after it. Returns the exit status."""
    name = os.path.splitext(os.path.basename(argv[0]))[0]
    if len(argv) != 3:
        sys.stderr.write("usage: %s.py PHOTO_DIR OUT_DIR\n" % name)
        return 2
    photo_dir, out_dir = argv[1], argv[2]
    os.makedirs(os.path.join(out_dir, "reject"), exist_ok=True)
    try:
        build_all(Photos(photo_dir), out_dir)
    except CorpusError as e:
        sys.stderr.write("%s: %s\n" % (name, e))
        return 1
    for n in notes:
        print("note: " + n)
    return 0

#!/usr/bin/python3
"""Checks every PNG the batch command wrote against an independent decoder of
the file it came from: Pillow for bitmaps and icons, ImageMagick for cursors
(Pillow reads no cursor masks). Each image of a file must have exactly one
PNG with the same pixels: the same alpha everywhere, the same colour wherever
a pixel is not fully transparent.

usage: compare_png.py DEST   (prints a summary; exit 1 on any mismatch)
"""
import io
import os
import subprocess
import sys
from collections import defaultdict

from PIL import BmpImagePlugin, IcoImagePlugin, Image

KINDS = {"Bitmaps": "2", "Icons": "14", "Cursors": "12"}


def index_lines(folder):
    path = os.path.join(folder, "__index.txt")
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        data = f.read()
    return [l for l in data.split(b"\r\n") if b" - SOURCE FILE = " in l]


def groups(folder):
    """{group file: [png files]} as the index lists them: the PNG lines follow
    the line of their file with the same source and resource name."""
    out, last = {}, {}
    for line in index_lines(folder):
        name, rest = line.split(b" - SOURCE FILE = ", 1)
        name = os.fsdecode(name)
        if name.endswith(".png"):
            out[last[rest]].append(name)
        else:
            out[name] = []
            last[rest] = name
    return out


def canon(im):
    """RGBA bytes with the colour of fully transparent pixels cleared."""
    im = im.convert("RGBA")
    px = bytearray(im.tobytes())
    for i in range(0, len(px), 4):
        if px[i + 3] == 0:
            px[i:i + 3] = b"\0\0\0"
    return im.size, bytes(px)


def alpha_free_32bit(entry_bytes):
    """A 32-bit DIB whose alpha bytes are all zero: the system draws it
    through its AND mask, where Pillow makes it wholly transparent."""
    if entry_bytes[:8] == b"\x89PNG\r\n\x1a\n" or len(entry_bytes) < 40:
        return False
    hs = int.from_bytes(entry_bytes[0:4], "little")
    bpp = int.from_bytes(entry_bytes[14:16], "little")
    w = int.from_bytes(entry_bytes[4:8], "little")
    h = int.from_bytes(entry_bytes[8:12], "little", signed=True) // 2
    if bpp != 32:
        return False
    pix = entry_bytes[hs:hs + w * h * 4]
    return not any(pix[3::4])


def decode_ico(path):
    with open(path, "rb") as f:
        data = f.read()
    ico = IcoImagePlugin.IcoFile(io.BytesIO(data))
    images = []
    for i, e in enumerate(ico.entry):
        im = ico.frame(i)
        raw = data[e["offset"]:e["offset"] + e["size"]]
        if alpha_free_32bit(raw):
            # Pillow leaves the mask unread here; ImageMagick applies it.
            im = decode_magick(path, i)
        images.append(canon(im))
    return images


def decode_magick(path, i):
    out = subprocess.run(["convert", f"{path}[{i}]", "png:-"], capture_output=True, check=True).stdout
    return Image.open(io.BytesIO(out))


def decode_cur(path):
    with open(path, "rb") as f:
        count = int.from_bytes(f.read(6)[4:6], "little")
    return [canon(decode_magick(path, i)) for i in range(count)]


def pillow_form(data):
    """The same bitmap in a header form Pillow reads, where it reads none:
    a V2 header (52 bytes, three masks) is a 40-byte header with its masks
    after it; a V3 header or BI_ALPHABITFIELDS (four masks) becomes a V4
    header, its colour-space fields zero."""
    size = int.from_bytes(data[14:18], "little")
    compression = int.from_bytes(data[30:34], "little")
    if size == 52 and compression == 3:
        return data[:14] + (40).to_bytes(4, "little") + data[18:]
    if (size == 56 and compression == 3) or (size == 40 and compression == 6):
        off = int.from_bytes(data[10:14], "little") + 52
        head = data[:2] + (len(data) + 52).to_bytes(4, "little") + data[6:10] + off.to_bytes(4, "little")
        info = (108).to_bytes(4, "little") + data[18:30] + (3).to_bytes(4, "little") + data[34:54]
        return head + info + data[54:70] + bytes(52) + data[70:]
    return data


def decode_bmp(path):
    with open(path, "rb") as f:
        data = pillow_form(f.read())
    return [canon(BmpImagePlugin.BmpImageFile(io.BytesIO(data)))]


def main(dest):
    compared = mismatched = 0
    problems = []
    for folder, _ in KINDS.items():
        where = os.path.join(dest, folder)
        for group, pngs in groups(where).items():
            path = os.path.join(where, group)
            try:
                want = {"Bitmaps": decode_bmp, "Icons": decode_ico, "Cursors": decode_cur}[folder](path)
            except Exception as e:  # noqa: BLE001 - the independent decoder refuses the file
                problems.append(f"{path}: the independent decoder refused it ({e}); {len(pngs)} PNG files")
                continue
            got = [canon(Image.open(os.path.join(where, p))) for p in pngs]
            left = defaultdict(int)
            for g in got:
                left[g] += 1
            for w in want:
                compared += 1
                if left[w] > 0:
                    left[w] -= 1
                else:
                    mismatched += 1
                    problems.append(f"{path}: an image {w[0]} has no PNG with its pixels")
            if len(got) != len(want):
                problems.append(f"{path}: {len(want)} images, {len(got)} PNG files")
    print(f"compared {compared} images, {mismatched} without an identical PNG")
    for p in problems[:50]:
        print(p)
    return 1 if mismatched or problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))

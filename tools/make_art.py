#!/usr/bin/env python3
"""Draws the program's logo and its icon images (PNG, 32-bit colour with
alpha) into qt/resources, and for the Windows window the icon file that holds
the same images and the logo as a bitmap into win32/resources. The logo is
drawn three times as large as it shows at 96 dots per inch (510 pixels for its
170), so that the windows shrink it to their scale and never enlarge it up to
three times the size. Run it again after changing the drawing; the output is
committed, so a build needs no Python."""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "qt", "resources")
WINDOWS_OUT = os.path.join(HERE, "..", "win32", "resources")

RED = (192, 0, 0)
DARK = (96, 0, 0)
FOLDER = (255, 196, 40)
FOLDER_EDGE = (176, 112, 0)
WHITE = (255, 255, 255)


def colour_at(u, v):
    """The design in unit coordinates (0..1 both ways): RGB or None."""
    dx, dy = u - 0.5, v - 0.5
    r = math.hypot(dx, dy)
    if r > 0.49:
        return None
    if r > 0.44:
        return DARK
    # a folder with its tab
    if 0.24 <= u <= 0.76 and 0.36 <= v <= 0.70:
        edge = u < 0.26 or u > 0.74 or v < 0.38 or v > 0.68
        return FOLDER_EDGE if edge else FOLDER
    if 0.24 <= u <= 0.44 and 0.30 <= v < 0.36:
        return FOLDER_EDGE
    # a long path running out of the folder: a line of dots
    if 0.755 <= v <= 0.805 and 0.18 <= u <= 0.82 and int((u - 0.18) / 0.08) % 2 == 0:
        return WHITE
    return RED


def render(size, samples):
    """RGBA rows, each pixel averaged over samples x samples points."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((x + (sx + 0.5) / samples) / size,
                                  (y + (sy + 0.5) / samples) / size)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(a // hits for a in acc) + (255 * hits // (samples * samples),))
        rows.append(row)
    return rows


def write_png(path, rows):
    with open(path, "wb") as f:
        f.write(png_bytes(rows))


def png_bytes(rows):
    size = len(rows)
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_ico(path, images):
    """An icon file of PNG images, given as (size, rows)."""
    pngs = [(size, png_bytes(rows)) for size, rows in images]
    offset = 6 + 16 * len(pngs)
    header = struct.pack("<HHH", 0, 1, len(pngs))
    for size, data in pngs:
        header += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(header + b"".join(data for _, data in pngs))


WINDOW = (128, 255, 255)


def write_bmp(path, rows):
    """An 8-bit bitmap of the logo laid on the window's colour, which never
    changes: the few colours of the drawing and of its smoothed edges, those
    beyond 256 given the nearest of the commonest 256."""
    size = len(rows)
    shown = []
    for row in rows:
        line = []
        for r, g, b, a in row:
            line.append(tuple((c * a + w * (255 - a)) // 255 for c, w in zip((r, g, b), WINDOW)))
        shown.append(line)
    counts = {}
    for line in shown:
        for colour in line:
            counts[colour] = counts.get(colour, 0) + 1
    palette = sorted(counts, key=lambda c: -counts[c])[:256]
    index = {colour: i for i, colour in enumerate(palette)}

    def nearest(colour):
        if colour not in index:
            index[colour] = min(range(len(palette)), key=lambda i: sum(
                (p - q) ** 2 for p, q in zip(palette[i], colour)))
        return index[colour]

    stride = (size + 3) & ~3
    pixels = bytearray()
    for line in reversed(shown):  # bottom-up
        pixels += bytes(nearest(colour) for colour in line) + b"\x00" * (stride - size)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 8, 0, len(pixels), 3780, 3780,
                       len(palette), 0)
    start = 14 + len(info) + len(table)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", start + len(pixels), 0, 0, start))
        f.write(info + table + pixels)


def main():
    os.makedirs(OUT, exist_ok=True)
    logo = render(3 * 170, 3)
    write_png(os.path.join(OUT, "logo.png"), logo)
    icons = [(size, render(size, 4)) for size in (16, 24, 32, 48, 64, 72, 96, 128)]
    for size, rows in icons:
        write_png(os.path.join(OUT, "icon-%d.png" % size), rows)
    os.makedirs(WINDOWS_OUT, exist_ok=True)
    write_bmp(os.path.join(WINDOWS_OUT, "logo.bmp"), logo)
    write_ico(os.path.join(WINDOWS_OUT, "kestrafin.ico"), icons)


if __name__ == "__main__":
    main()

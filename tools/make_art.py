#!/usr/bin/env python3
"""Draws the program's logo (a GIF89a, 170 by 170, 256-colour palette, index
255 transparent) and its icon images (PNG, 32-bit colour with alpha) into
qt/resources, and for the Windows window the icon file that holds the same
images and the logo as a bitmap into win32/resources. Run it again after
changing the drawing; the output is committed, so a build needs no Python."""
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


def lzw_encode(indices, min_code_size=8):
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, bits, nbits = bytearray(), 0, 0

    def emit(code, width):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    table = {bytes([i]): i for i in range(clear)}
    next_code, width = end + 1, min_code_size + 1
    emit(clear, width)
    current = b""
    for index in indices:
        candidate = current + bytes([index])
        if candidate in table:
            current = candidate
            continue
        emit(table[current], width)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            table = {bytes([i]): i for i in range(clear)}
            next_code, width = end + 1, min_code_size + 1
        current = bytes([index])
    if current:
        emit(table[current], width)
    emit(end, width)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def write_gif(path, rows):
    size = len(rows)
    palette, lookup, indices = [], {}, []
    for row in rows:
        for r, g, b, a in row:
            if a < 128:
                indices.append(255)
                continue
            key = (r, g, b)
            if key not in lookup:
                if len(palette) >= 255:  # keep index 255 for transparency
                    key = min(lookup, key=lambda k: sum((p - q) ** 2 for p, q in zip(k, key)))
                else:
                    lookup[key] = len(palette)
                    palette.append(key)
            indices.append(lookup[key])
    palette += [(0, 0, 0)] * (255 - len(palette))
    palette.append((128, 255, 255))  # the transparent entry, in the window's colour
    data = lzw_encode(indices)
    with open(path, "wb") as f:
        f.write(b"GIF89a" + struct.pack("<HHBBB", size, size, 0xF7, 255, 0))
        f.write(bytes(c for rgb in palette for c in rgb))
        f.write(b"\x21\xF9\x04\x01\x00\x00\xFF\x00")  # transparent index 255
        f.write(b"\x2C" + struct.pack("<HHHHB", 0, 0, size, size, 0) + b"\x08")
        for i in range(0, len(data), 255):
            block = data[i:i + 255]
            f.write(bytes([len(block)]) + block)
        f.write(b"\x00\x3B")


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


def write_bmp(path, rows):
    """A 24-bit bitmap of the logo as the GIF shows it: its transparent pixels
    in the window's colour, which never changes."""
    size = len(rows)
    stride = (size * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for r, g, b, a in row:
            line += bytes((255, 255, 128) if a < 128 else (b, g, r))
        pixels += line + b"\x00" * (stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(info) + len(pixels), 0, 0, 14 + len(info)))
        f.write(info + pixels)


def main():
    os.makedirs(OUT, exist_ok=True)
    logo = render(170, 3)
    write_gif(os.path.join(OUT, "logo.gif"), logo)
    icons = [(size, render(size, 4)) for size in (16, 24, 32, 48, 64, 72, 96, 128)]
    for size, rows in icons:
        write_png(os.path.join(OUT, "icon-%d.png" % size), rows)
    os.makedirs(WINDOWS_OUT, exist_ok=True)
    write_bmp(os.path.join(WINDOWS_OUT, "logo.bmp"), logo)
    write_ico(os.path.join(WINDOWS_OUT, "kestrafin.ico"), icons)


if __name__ == "__main__":
    main()

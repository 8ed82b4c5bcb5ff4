#!/usr/bin/env python3
"""Writes the Windows icon app/icons/quorvane.ico from the window icon's XPM images.

Each XPM (app/icons/quorvane-16.xpm, quorvane-32.xpm) becomes one 16-colour image of the .ico,
pixel for pixel: the colours index the standard 16-colour palette, and "None" pixels are
transparent (set in the AND mask). The result is the same bytes for the same XPMs.

Usage: scripts/make_ico.py [--check] [icons directory, default app/icons]
  --check  writes nothing; exits 1 when quorvane.ico differs from what the XPMs give.
"""

import pathlib
import re
import struct
import sys

# The standard 16-colour palette, in its usual order.
PALETTE = ["#000000", "#800000", "#008000", "#808000", "#000080", "#800080", "#008080", "#C0C0C0",
           "#808080", "#FF0000", "#00FF00", "#FFFF00", "#0000FF", "#FF00FF", "#00FFFF", "#FFFFFF"]
SIZES = (16, 32)


def read_xpm(path):
    """The XPM's pixels as rows of "#RRGGBB" strings, None where transparent."""
    strings = re.findall(r'"((?:[^"\\]|\\.)*)"', path.read_text())
    width, height, colours, chars = (int(v) for v in strings[0].split()[:4])
    table = {}
    for line in strings[1:1 + colours]:
        key, rest = line[:chars], line[chars:].split()
        value = rest[rest.index("c") + 1]
        table[key] = None if value.lower() == "none" else value.upper()
    rows = strings[1 + colours:1 + colours + height]
    if len(rows) != height or any(len(r) != width * chars for r in rows):
        sys.exit(f"{path}: the pixel rows do not match {width} x {height}")
    return [[table[r[i:i + chars]] for i in range(0, len(r), chars)] for r in rows]


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def ico_image(pixels):
    """A BITMAPINFOHEADER, the palette, the 4-bit colour rows and the 1-bit mask, bottom-up."""
    size = len(pixels)
    for row in pixels:
        for c in row:
            if c is not None and c not in PALETTE:
                sys.exit(f"colour {c} is not one of the 16 standard colours")
    colour_rows = b""
    mask_rows = b""
    for row in reversed(pixels):
        indices = [PALETTE.index(c) if c is not None else 0 for c in row]
        colour_rows += padded(bytes((indices[i] << 4) | indices[i + 1]
                                    for i in range(0, size, 2)))
        bits = 0
        mask = bytearray()
        for i, c in enumerate(row):
            bits = (bits << 1) | (1 if c is None else 0)
            if i % 8 == 7:
                mask.append(bits)
                bits = 0
        mask_rows += padded(bytes(mask))
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0,
                         len(colour_rows) + len(mask_rows), 0, 0, 16, 0)
    palette = b"".join(bytes((int(c[5:7], 16), int(c[3:5], 16), int(c[1:3], 16), 0))
                       for c in PALETTE)
    return header + palette + colour_rows + mask_rows


def ico(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, data in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(data),
                               offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def main():
    args = sys.argv[1:]
    check = "--check" in args
    args = [a for a in args if a != "--check"]
    root = pathlib.Path(__file__).resolve().parent.parent
    icons = pathlib.Path(args[0]) if args else root / "app" / "icons"
    images = []
    for size in SIZES:
        pixels = read_xpm(icons / f"quorvane-{size}.xpm")
        if len(pixels) != size or len(pixels[0]) != size:
            sys.exit(f"quorvane-{size}.xpm is not {size} x {size}")
        images.append((size, ico_image(pixels)))
    data = ico(images)
    target = icons / "quorvane.ico"
    if check:
        if not target.exists() or target.read_bytes() != data:
            print(f"{target} is out of date; run scripts/make_ico.py", file=sys.stderr)
            sys.exit(1)
        return
    target.write_bytes(data)


if __name__ == "__main__":
    main()

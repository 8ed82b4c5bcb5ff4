#!/usr/bin/env python3
"""Draws the quorvane icon: a chip with its pins and a green arrow rising into it.

Writes app/icons/quorvane-32.xpm and quorvane-16.xpm (16 colours at most, the window icon) and
app/icons/quorvane.svg (the same design, scalable, for the desktop). The design is described
once, in a 32-unit square; each raster size samples it at its pixel centres, and every shape
gets a one-pixel outline where it borders something else.

Usage: scripts/make_icons.py [output directory, default app/icons]
"""

import pathlib
import sys

# The 16-colour palette the icon draws from.
TRANSPARENT = None
BLACK = "#000000"
DARK_GREY = "#808080"
LIGHT_GREY = "#C0C0C0"
WHITE = "#FFFFFF"
GREEN = "#00FF00"
DARK_GREEN = "#008000"

# Shapes, back to front: (kind, geometry, fill, outline). Rectangles are (x0, y0, x1, y1),
# polygons a list of points, circles (cx, cy, r); all in units of a 32 x 32 square.
PINS = [("rect", (x, y, x + 4, y + 2), LIGHT_GREY, None) for x in (2, 26)
        for y in (13, 17, 21, 25)]
SHAPES = PINS + [
    ("rect", (6, 11, 26, 29), DARK_GREY, BLACK),
    ("circle", (9.5, 25.5, 1.4), WHITE, None),
    ("polygon", [(16, 1.5), (25.5, 11), (20, 11), (20, 22), (12, 22), (12, 11), (6.5, 11)], GREEN,
     DARK_GREEN),
]


def inside(shape, x, y):
    kind, g, _, _ = shape
    if kind == "rect":
        return g[0] <= x < g[2] and g[1] <= y < g[3]
    if kind == "circle":
        return (x - g[0]) ** 2 + (y - g[1]) ** 2 <= g[2] ** 2
    # Even-odd rule.
    hit = False
    n = len(g)
    for i in range(n):
        (x0, y0), (x1, y1) = g[i], g[(i + 1) % n]
        if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
            hit = not hit
    return hit


def raster(size):
    unit = 32 / size
    pixels = [[TRANSPARENT] * size for _ in range(size)]
    for shape in SHAPES:
        mask = [[inside(shape, (i + 0.5) * unit, (j + 0.5) * unit) for i in range(size)]
                for j in range(size)]
        for j in range(size):
            for i in range(size):
                if not mask[j][i]:
                    continue
                edge = any(
                    not (0 <= j + dj < size and 0 <= i + di < size and mask[j + dj][i + di])
                    for dj, di in ((-1, 0), (1, 0), (0, -1), (0, 1)))
                outline = shape[3]
                pixels[j][i] = outline if edge and outline else shape[2]
    return pixels


def xpm(name, pixels):
    colours = sorted({c for row in pixels for c in row}, key=lambda c: (c is not None, c or ""))
    assert len(colours) <= 16, "the icon uses more than 16 colours"
    keys = " .+@#$%&*=-;>,')!"
    key = {c: keys[k] for k, c in enumerate(colours)}
    size = len(pixels)
    lines = [f'"{size} {size} {len(colours)} 1",']
    lines += [f'"{key[c]} c {c if c else "None"}",' for c in colours]
    lines += ['"' + "".join(key[c] for c in row) + '",' for row in pixels]
    lines[-1] = lines[-1].rstrip(",")
    return "/* XPM */\nstatic const char *" + name + "[] = {\n" + "\n".join(lines) + "\n};\n"


def svg():
    parts = []
    for kind, g, fill, outline in SHAPES:
        stroke = f' stroke="{outline}" stroke-width="1"' if outline else ""
        if kind == "rect":
            x0, y0, x1, y1 = g
            # The stroke runs along the inside of the raster outline.
            parts.append(f'<rect x="{x0 + 0.5}" y="{y0 + 0.5}" width="{x1 - x0 - 1}" '
                         f'height="{y1 - y0 - 1}" fill="{fill}"{stroke}/>')
        elif kind == "circle":
            parts.append(f'<circle cx="{g[0]}" cy="{g[1]}" r="{g[2]}" fill="{fill}"{stroke}/>')
        else:
            points = " ".join(f"{x},{y}" for x, y in g)
            parts.append(f'<polygon points="{points}" fill="{fill}"{stroke} '
                         'stroke-linejoin="round"/>')
    body = "\n  ".join(parts)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" '
            'viewBox="0 0 32 32">\n  ' + body + "\n</svg>\n")


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else root / "app" / "icons"
    out.mkdir(parents=True, exist_ok=True)
    for size in (32, 16):
        name = f"quorvane_{size}"
        (out / f"quorvane-{size}.xpm").write_text(xpm(name, raster(size)))
    (out / "quorvane.svg").write_text(svg())


if __name__ == "__main__":
    main()

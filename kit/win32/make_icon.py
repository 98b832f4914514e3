#!/usr/bin/env python3
"""Draws the kit's icon and writes it as a Windows .ico (32x32 and 16x16).

A database drum in the Russian tricolour; the uninstaller's carries a red
cross. Images are 32-bit with alpha, which Windows XP and later show as
drawn; the 1-bit mask keeps older viewers right. Standard library only, and
the output depends on nothing but the arguments.

    make_icon.py installer|uninstaller OUTPUT.ico
"""

import struct
import sys

SIZES = (32, 16)
SAMPLES = 4  # per pixel side: edges are antialiased by supersampling

OUTLINE = (40, 44, 60)
TOP_FACE = (222, 226, 236)
BANDS = ((250, 250, 250), (0, 82, 180), (214, 36, 36))
BADGE = (200, 20, 20)
WHITE = (255, 255, 255)

# The drum, in units of the icon's side.
CX, RX, RY = 0.5, 0.36, 0.12
TOP, BOTTOM = 0.2, 0.8


def in_ellipse(x, y, cy, rx, ry):
    return ((x - CX) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def in_drum(x, y, shrink):
    rx, ry = RX - shrink, RY - shrink
    if rx <= 0 or ry <= 0:
        return False
    top, bottom = TOP, BOTTOM - shrink
    in_body = abs(x - CX) <= rx and top <= y <= bottom
    return in_body or in_ellipse(x, y, top, rx, ry) or in_ellipse(x, y, bottom, rx, ry)


def body_colour(x, y):
    # The bands share the side seen below the top face.
    third = (BOTTOM - TOP) / 3
    band = BANDS[min(2, max(0, int((y - TOP - RY) / third)))]
    # Darker towards the sides, so the drum reads as round.
    shade = 1.0 - 0.35 * ((x - CX) / RX) ** 2
    return tuple(int(c * shade) for c in band)


def drum_point(x, y, line):
    """The colour of the drum at (x, y), or None outside it."""
    if not in_drum(x, y, 0.0):
        return None
    if not in_drum(x, y, line):
        return OUTLINE
    if in_ellipse(x, y, TOP, RX, RY):
        if in_ellipse(x, y, TOP, RX - line, RY - line):
            return TOP_FACE
        return OUTLINE
    return body_colour(x, y)


def badge_point(x, y, line):
    """The uninstaller's red disc with a white cross, or None outside it."""
    bx, by, r = 0.72, 0.72, 0.27
    dx, dy = x - bx, y - by
    if dx * dx + dy * dy > r * r:
        return None
    arm = r * 0.55
    half = max(line * 0.8, 0.05)
    on_cross = (abs(dx - dy) <= half * 1.414 or abs(dx + dy) <= half * 1.414) and max(
        abs(dx), abs(dy)) <= arm
    return WHITE if on_cross else BADGE


def render(size, variant):
    """Rows of (r, g, b, a), top row first."""
    line = 1.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    colour = badge_point(x, y, line) if variant == "uninstaller" else None
                    if colour is None:
                        colour = drum_point(x, y, line)
                    if colour is not None:
                        for i in range(3):
                            total[i] += colour[i]
                        total[3] += 1
            covered = total[3]
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                alpha = covered * 255 // (SAMPLES * SAMPLES)
                row.append(tuple(total[i] // covered for i in range(3)) + (alpha,))
        rows.append(row)
    return rows


def icon_image(size, rows):
    """One image of an .ico: a BITMAPINFOHEADER, BGRA pixels, the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):  # bottom-up
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def icon_file(variant):
    images = [(size, icon_image(size, render(size, variant))) for size in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for _, image in images:
        out += image
    return bytes(out)


def main(argv):
    if len(argv) != 3 or argv[1] not in ("installer", "uninstaller"):
        sys.stderr.write("usage: make_icon.py installer|uninstaller OUTPUT.ico\n")
        return 2
    with open(argv[2], "wb") as out:
        out.write(icon_file(argv[1]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

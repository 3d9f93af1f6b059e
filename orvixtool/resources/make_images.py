#!/usr/bin/env python3
"""Draws DevodTool's pictures: the dialog background and the application icon.

    python3 make_images.py [output-folder]     (default: the folder of this script)

Writes background.png (670 x 424, 24-bit RGB), icon.png (48 x 48) and icon32.png (32 x 32), both
RGBA. Python's standard library only: the PNG files are put together with zlib and struct. The
output is the same on every run, so the committed files can be checked against it.
"""

import math
import os
import struct
import sys
import zlib


def write_png(path, width, height, rows, alpha):
    """rows: one bytes object per row, 3 (RGB) or 4 (RGBA) bytes per pixel."""
    def chunk(kind, data):
        body = kind + data
        crc = zlib.crc32(body) & 0xFFFFFFFF
        return struct.pack(">I", len(data)) + body + struct.pack(">I", crc)

    colour_type = 6 if alpha else 2
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    raw = b"".join(b"\x00" + row for row in rows)  # filter 0 (none) on every row
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", header))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def clamp_byte(v):
    return max(0, min(255, int(round(v))))


# --- background -------------------------------------------------------------------------------

BG_W, BG_H = 670, 424
TOP_LEFT = (226, 234, 242)      # pale blue-grey
BOTTOM_RIGHT = (178, 204, 214)  # soft grey-teal
# (centre x, centre y, radius, colour, opacity): large, faint discs.
DISCS = [
    (560, 70, 150, (255, 255, 255), 0.22),
    (90, 360, 120, (255, 255, 255), 0.16),
    (420, 300, 70, (150, 186, 204), 0.18),
]
BAND_TOP = 380                  # a quiet band along the bottom edge
BAND_COLOUR = (120, 156, 176)


def background_pixel(x, y):
    t = (x / (BG_W - 1)) * 0.35 + (y / (BG_H - 1)) * 0.65
    colour = mix(TOP_LEFT, BOTTOM_RIGHT, t)
    for cx, cy, r, disc, opacity in DISCS:
        d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
        coverage = max(0.0, min(1.0, r - d + 0.5))  # one-pixel soft rim
        if coverage:
            colour = mix(colour, disc, opacity * coverage)
    # The band's top follows a long, shallow wave.
    wave = BAND_TOP + 6.0 * math.sin(x / BG_W * 2.0 * math.pi)
    coverage = max(0.0, min(1.0, y + 0.5 - wave + 0.5))
    if coverage:
        colour = mix(colour, BAND_COLOUR, 0.35 * coverage)
    # A thin light line just above the band.
    line = abs(y + 0.5 - (wave - 8.0))
    if line < 1.0:
        colour = mix(colour, (245, 248, 250), 0.5 * (1.0 - line))
    return colour


def draw_background(path):
    rows = []
    for y in range(BG_H):
        row = bytearray()
        for x in range(BG_W):
            row.extend(clamp_byte(c) for c in background_pixel(x, y))
        rows.append(bytes(row))
    write_png(path, BG_W, BG_H, rows, alpha=False)


# --- icon ---------------------------------------------------------------------------------------
# A round road sign: a red ring around a white face showing a dark road that runs from the bottom
# edge towards a point on the horizon, with a dashed centre line. Drawn in a unit square (0..1)
# and supersampled for smooth edges.

RING = (196, 44, 40)
FACE = (250, 250, 250)
ROAD = (56, 64, 76)
MARKING = (244, 206, 70)
SAMPLES = 4  # per axis
HORIZON = 0.30


def icon_sample(u, v):
    """Colour of a point of the unit square (v grows downwards), or None outside the sign."""
    d = math.hypot(u - 0.5, v - 0.5)
    if d > 0.47:
        return None
    if d > 0.36:
        return RING
    if v >= HORIZON:
        depth = (v - HORIZON) / (1.0 - HORIZON)  # 0 at the horizon, 1 at the bottom
        half_width = 0.02 + 0.34 * depth
        offset = abs(u - 0.5)
        if offset <= half_width:
            # Dashes grow towards the viewer: even stripes of log-depth.
            dash = math.log(depth + 0.08) * 3.2
            if offset <= 0.16 * half_width and math.floor(dash) % 2 == 0:
                return MARKING
            return ROAD
    return FACE


def draw_icon(path, size):
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            total = [0.0, 0.0, 0.0]
            covered = 0
            for j in range(SAMPLES):
                for i in range(SAMPLES):
                    colour = icon_sample((x + (i + 0.5) / SAMPLES) / size,
                                         (y + (j + 0.5) / SAMPLES) / size)
                    if colour is not None:
                        covered += 1
                        for k in range(3):
                            total[k] += colour[k]
            if covered:
                row.extend(clamp_byte(total[k] / covered) for k in range(3))
                row.append(clamp_byte(255 * covered / (SAMPLES * SAMPLES)))
            else:
                row.extend(b"\x00\x00\x00\x00")
        rows.append(bytes(row))
    write_png(path, size, size, rows, alpha=True)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    draw_background(os.path.join(folder, "background.png"))
    draw_icon(os.path.join(folder, "icon.png"), 48)
    draw_icon(os.path.join(folder, "icon32.png"), 32)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the launcher's banner picture (760 x 200, RGB PNG) from nothing but arithmetic.

The picture is deterministic: the same script always gives the same pixels, so the committed
src/ui/banner.png and src/ui/banner@2x.png can be checked against it. Only the standard library
is used. At --scale 2 the same scene is drawn at 1520 x 400 for screens with two device pixels
per point; Qt picks the @2x file there by its name.

    tools/draw_banner.py [--scale 1|2] [output]
        (default output: src/ui/banner.png, or src/ui/banner@2x.png at scale 2)
"""

import argparse
import math
import pathlib
import struct
import zlib

WIDTH, HEIGHT = 760, 200

# The window's own colours, as 0..1 fractions, so the banner sits in the same palette.
BG = (0.027, 0.039, 0.067)
PANEL = (0.047, 0.067, 0.102)
CYAN = (0.345, 0.886, 1.0)
AMBER = (1.0, 0.675, 0.259)
RED = (1.0, 0.424, 0.471)

HORIZON = 128  # the floor grid starts here
VANISH_X = 585  # its vanishing point
BEACON = (598.0, 84.0)  # the extraction beacon's centre


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def smooth(edge0, edge1, x):
    t = min(1.0, max(0.0, (x - edge0) / (edge1 - edge0)))
    return t * t * (3.0 - 2.0 * t)


def sky(x, y):
    """Night sky: dark at the top, a little bluer towards the horizon, darker on the left."""
    colour = mix(BG, PANEL, smooth(0, HORIZON, y) * 0.9)
    glow = math.exp(-(((y - HORIZON) / 26.0) ** 2)) * 0.16
    glow *= 0.35 + 0.65 * smooth(120, 700, x)
    return mix(colour, CYAN, glow)


def floor_grid(x, y):
    """Strength of the perspective grid below the horizon, 0..1."""
    depth = y - HORIZON
    if depth <= 0:
        return 0.0
    z = 60.0 / depth  # distance into the picture
    world_x = (x - VANISH_X) * z / 60.0
    across = abs(world_x * 2.2 - round(world_x * 2.2)) / (2.2 * z / 60.0)
    along = abs(z * 1.6 - round(z * 1.6)) / (1.6 * z / depth)
    line = max(1.0 - min(across, 1.0), 1.0 - min(along, 1.0))
    fade = smooth(0, 60, depth) * (0.3 + 0.7 * smooth(80, 620, x))
    return line * fade * 0.32


def beacon(x, y):
    """A ring of light over the horizon: where the salvage run extracts."""
    dx, dy = x - BEACON[0], (y - BEACON[1]) * 1.15
    r = math.hypot(dx, dy)
    ring = math.exp(-(((r - 46.0) / 2.2) ** 2)) * 0.75
    inner = math.exp(-(((r - 30.0) / 1.4) ** 2)) * 0.28
    halo = math.exp(-((r / 70.0) ** 2)) * 0.16
    # Four gaps make it read as a device rather than a planet.
    angle = math.atan2(dy, dx)
    gaps = 0.35 + 0.65 * smooth(0.06, 0.16, abs(math.sin(2.0 * angle)))
    return ring * gaps + inner + halo


def swarm_points():
    """Deterministic swarm: small bodies streaming up past the beacon."""
    state = 0x2545F491
    points = []

    def rand():
        nonlocal state
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        return state / 0x7FFFFFFF

    for _ in range(170):
        t = rand()
        x = 470 + 290 * t
        spread = 18 + 70 * (1.0 - t) * rand()
        y = 150 - 95 * t * t + (rand() - 0.5) * spread
        size = 0.8 + 1.4 * rand() * rand()
        colour = RED if rand() < 0.3 else AMBER
        strength = 0.35 + 0.55 * rand()
        points.append((x, y, size, colour, strength))
    return points


def render(scale):
    """The scene sampled at each device pixel's centre, in the 760 x 200 layout's coordinates."""
    width, height = WIDTH * scale, HEIGHT * scale

    def at(device):
        return (device + 0.5) / scale - 0.5

    pixels = [[sky(at(x), at(y)) for x in range(width)] for y in range(height)]
    for y in range(height):
        row = pixels[y]
        for x in range(width):
            light = min(1.0, floor_grid(at(x), at(y)) + beacon(at(x), at(y)))
            if light > 0.002:
                row[x] = mix(row[x], CYAN, light)
    # The swarm's edges blur over about one device pixel, so the bodies stay sharp at 2x.
    edge = 0.7 / scale
    for px, py, size, colour, strength in swarm_points():
        for y in range(int((py - size - 2) * scale), int((py + size + 3) * scale)):
            for x in range(int((px - size - 2) * scale), int((px + size + 3) * scale)):
                if 0 <= x < width and 0 <= y < height:
                    distance = math.hypot(at(x) - px, at(y) - py)
                    cover = 1.0 - smooth(size - edge, size + edge, distance)
                    if cover > 0:
                        pixels[y][x] = mix(pixels[y][x], colour, cover * strength)
    # Faint scan lines, and the left side kept dark so the game's name reads over it.
    for y in range(height):
        scan = 0.93 if (y // scale) % 3 == 2 else 1.0
        for x in range(width):
            shade = scan * (0.72 + 0.28 * smooth(0, 420, at(x)))
            pixels[y][x] = mix(BG, pixels[y][x], shade)
    return pixels


def encode_png(pixels):
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter type: none
        for r, g, b in row:
            raw.extend(round(min(1.0, max(0.0, c)) * 255) for c in (r, g, b))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", len(pixels[0]), len(pixels), 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scale", type=int, choices=(1, 2), default=1)
    parser.add_argument("output", type=pathlib.Path, nargs="?")
    args = parser.parse_args()
    name = "banner.png" if args.scale == 1 else f"banner@{args.scale}x.png"
    default = pathlib.Path(__file__).resolve().parent.parent / "src" / "ui" / name
    (args.output or default).write_bytes(encode_png(render(args.scale)))


if __name__ == "__main__":
    main()

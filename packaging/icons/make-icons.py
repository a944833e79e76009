#!/usr/bin/env python3
"""Draws the launcher's icon and writes every file the packages need from it.

    packaging/icons/make-icons.py

Writes hicolor/scalable/apps/ashenmarch-launcher.svg, the PNG sizes beside it in the hicolor
layout, and ../macos/ashenmarch-launcher.icns for the app bundle. The output is deterministic
(same input, same bytes), so the generated files are committed and the build never runs this.
Needs python3 and rsvg-convert (Debian package librsvg2-bin); no network.
"""

import pathlib
import struct
import subprocess
import sys
import tempfile

NAME = "ashenmarch-launcher"
HERE = pathlib.Path(__file__).resolve().parent
HICOLOR = HERE / "hicolor"
ICNS = HERE.parent / "macos" / f"{NAME}.icns"
PNG_SIZES = (16, 32, 48, 64, 128, 256)

# The window's palette (calibrated RGB fractions), so the icon matches what it opens.
PALETTE = {
    "bg": (0.027, 0.039, 0.067),
    "panel": (0.047, 0.067, 0.102),
    "card": (0.063, 0.09, 0.137),
    "dim": (0.408, 0.502, 0.612),
    "cyan": (0.345, 0.886, 1.0),
    "amber": (1.0, 0.675, 0.259),
}


def hex_colour(rgb):
    return "#" + "".join(f"{round(c * 255):02X}" for c in rgb)


def icon_svg():
    c = {name: hex_colour(rgb) for name, rgb in PALETTE.items()}
    # A dark tile with an ash-grey mountain range, a cyan ridge line, an ember above the peak and
    # an update bar along the bottom. Shapes are large so they survive at 16 pixels.
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <defs>
    <linearGradient id="tile" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="{c['card']}"/>
      <stop offset="1" stop-color="{c['bg']}"/>
    </linearGradient>
    <radialGradient id="glow" cx="0.5" cy="0.5" r="0.5">
      <stop offset="0" stop-color="{c['amber']}" stop-opacity="0.55"/>
      <stop offset="1" stop-color="{c['amber']}" stop-opacity="0"/>
    </radialGradient>
  </defs>
  <rect x="8" y="8" width="240" height="240" rx="52" fill="url(#tile)"/>
  <rect x="8" y="8" width="240" height="240" rx="52" fill="none"
        stroke="{c['dim']}" stroke-opacity="0.45" stroke-width="6"/>
  <path d="M24 184 L84 112 L112 140 L136 64 L184 128 L204 108 L232 184 Z" fill="{c['panel']}"/>
  <path d="M24 184 L84 112 L112 140 L136 64 L184 128 L204 108 L232 184"
        fill="none" stroke="{c['cyan']}" stroke-width="12"
        stroke-linejoin="round" stroke-linecap="round"/>
  <circle cx="136" cy="38" r="26" fill="url(#glow)"/>
  <circle cx="136" cy="38" r="11" fill="{c['amber']}"/>
  <rect x="40" y="204" width="176" height="20" rx="10" fill="{c['panel']}"
        stroke="{c['dim']}" stroke-opacity="0.6" stroke-width="4"/>
  <rect x="40" y="204" width="124" height="20" rx="10" fill="{c['cyan']}"/>
</svg>
"""


def render(svg_path, size, png_path):
    png_path.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["rsvg-convert", "--width", str(size), "--height", str(size),
                    "--output", str(png_path), str(svg_path)], check=True)


def write_icns(entries, path):
    """entries: (OSType, PNG bytes) pairs; an .icns file is a header plus typed PNG chunks."""
    chunks = b"".join(kind.encode("ascii") + struct.pack(">I", 8 + len(data)) + data
                      for kind, data in entries)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(b"icns" + struct.pack(">I", 8 + len(chunks)) + chunks)


def main():
    svg_path = HICOLOR / "scalable" / "apps" / f"{NAME}.svg"
    svg_path.parent.mkdir(parents=True, exist_ok=True)
    svg_path.write_text(icon_svg(), encoding="utf-8")

    for size in PNG_SIZES:
        render(svg_path, size, HICOLOR / f"{size}x{size}" / "apps" / f"{NAME}.png")

    # The bundle icon wants the retina sizes as well; those are not installed on Linux.
    icns_types = (("icp4", 16), ("icp5", 32), ("icp6", 64), ("ic07", 128), ("ic08", 256),
                  ("ic09", 512), ("ic10", 1024), ("ic11", 32), ("ic12", 64), ("ic13", 256),
                  ("ic14", 512))
    with tempfile.TemporaryDirectory() as scratch:
        rendered = {}
        for _, size in icns_types:
            if size not in rendered:
                png = pathlib.Path(scratch) / f"{size}.png"
                render(svg_path, size, png)
                rendered[size] = png.read_bytes()
        write_icns([(kind, rendered[size]) for kind, size in icns_types], ICNS)
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Writes a sample release for the demo host: changelog.txt and the build archive.

The manifest (latest.txt) and its signature are left to `ashenmarch-publish release`, as a studio
would publish them. Prints the archive's path. The archive holds
Ashenmarch.app/Contents/MacOS/ASHENMARCH, a small shell script standing in for the game, plus some
payload so the download takes long enough to show progress. The payload's packs are the same in
every version except the first --fresh-packs of them, so a launcher with an earlier demo
version installed fetches only what changed. Output is deterministic for a given version.
"""
import argparse
import random
import zipfile
from pathlib import Path

GAME = """#!/bin/sh
# Stand-in for the game: says that it started, where, and which build it is.
log="${TMPDIR:-/tmp}/ashenmarch-demo-game.log"
echo "Ashenmarch demo build @VERSION@ started from $(pwd) at $(date)" | tee -a "$log"
"""

CHANGELOG = """// Demo changelog served by the loopback release host.
## @VERSION@ | 2026-12-06
+ Salvage runs now drop blueprint shards
+ New biome: the Ashen Reach
- Removed the old tutorial island
* Swarm pathing is smoother on large maps
* Launcher demo build

## 1.3.9 | 2026-11-20
+ Co-op extraction for two players
* Balance pass on heavy turrets

## 1.3.8 | 2026-11-02
- Retired the legacy save format
* Crash fix when alt-tabbing during a swarm
"""


def add(archive, name, data, mode):
    info = zipfile.ZipInfo(name, date_time=(2026, 12, 6, 12, 0, 0))
    info.create_system = 3  # Unix, so the mode below is honoured
    info.external_attr = mode << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    archive.writestr(info, data)


def make_archive(path, version, payload_mb, fresh_packs):
    bundle = "Ashenmarch.app/Contents/"
    with zipfile.ZipFile(path, "w") as archive:
        for folder in ("Ashenmarch.app/", bundle, bundle + "MacOS/", bundle + "Resources/"):
            add(archive, folder, b"", 0o40755)
        add(archive, bundle + "MacOS/ASHENMARCH", GAME.replace("@VERSION@", version), 0o100755)
        add(archive, bundle + "Info.plist", f"<plist><string>{version}</string></plist>\n", 0o100644)
        for index in range(payload_mb):
            data = random.Random(f"{version}/{index}" if index < fresh_packs else index).randbytes(
                1 << 20)
            add(archive, f"{bundle}Resources/pack{index:02}.dat", data, 0o100644)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("folder", type=Path, help="where the release host serves from")
    parser.add_argument("--version", default="1.4.0")
    parser.add_argument("--payload-mb", type=int, default=24)
    parser.add_argument("--fresh-packs", type=int, default=0,
                        help="packs whose content this version changes")
    args = parser.parse_args()

    args.folder.mkdir(parents=True, exist_ok=True)
    name = f"ashenmarch-{args.version}.zip"
    make_archive(args.folder / name, args.version, args.payload_mb, args.fresh_packs)
    (args.folder / "changelog.txt").write_text(CHANGELOG.replace("@VERSION@", args.version))
    print(args.folder / name)


if __name__ == "__main__":
    main()

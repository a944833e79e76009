#!/usr/bin/env python3
"""Writes the benchmark's inputs: a source tree and its zip archive for each build shape.

  A  a typical build: about 600 MB unpacked in about 2,000 files of mixed sizes and
     compressibility (executables, packed assets, scripts, frameworks with symbolic links)
  B  many small files: about 20,000 files, about 200 MB
  H  a 4 GB build for the memory check: large packed assets, little else
  A11  release 1.1 of A: 1 % of A's files (every hundredth, so spread over the tree and of
     every size) with a stretch of new bytes; everything else byte for byte A's

Everything follows from one seed, so two runs on any machine produce the same bytes. The
bundle's executable is Ashenmarch.app/Contents/MacOS/ASHENMARCH with mode 755.

  make_inputs.py <out folder> A|B|H|A11
prints the archive's path, its size and its SHA-256 as three lines. An existing, complete
output (the archive with a matching stamp) is reused.
"""

import hashlib
import os
import random
import shutil
import stat
import subprocess
import sys
import zipfile

GENERATOR_VERSION = 3  # bump when the shapes below change
SEED = 20240611
MiB = 1 << 20
KiB = 1 << 10
BUNDLE = "Ashenmarch.app"
EXECUTABLE = BUNDLE + "/Contents/MacOS/ASHENMARCH"
ZIP_TIME = (2024, 6, 11, 12, 0, 0)

WORDS = (
    "ash march ember keep warden gate rune ward forge ridge hollow lantern frost vale "
    "banner oath shard crown thorn relic sigil tide cinder gloom spire bastion rook "
    "function local return end if then else for in pairs do while true false nil "
    "texture mesh shader float vec3 uniform sampler2D main color normal uv alpha"
).split()


class Pools:
    """Byte pools that files are cut from: text, structured binary and noise."""

    def __init__(self, rng):
        lines = []
        size = 0
        while size < 4 * MiB:
            line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 14)))
            line = "    " * rng.randint(0, 3) + line + " = " + str(rng.randint(0, 99999))
            lines.append(line)
            size += len(line) + 1
        self.text = ("\n".join(lines) + "\n").encode()
        # Machine code and tables: a skewed alphabet compresses to roughly half.
        skew = bytes(rng.choice((0, 0, 0, 0xFF, 0x48, 0x89, 0x8B, 0xE8)) if i % 3 else i
                     for i in range(256))
        self.binary = rng.randbytes(8 * MiB).translate(skew)
        self.rng = rng

    def cut(self, pool, size):
        start = self.rng.randrange(len(pool))
        out = bytearray()
        while len(out) < size:
            out += pool[start:start + size - len(out)]
            start = 0
        return bytes(out)

    def content(self, kind, size):
        if kind == "text":
            return self.cut(self.text, size)
        if kind == "binary":
            return self.cut(self.binary, size)
        return self.rng.randbytes(size)  # packed assets: already compressed


KINDS = (("lua", "text", 0o644), ("json", "text", 0o644), ("dylib", "binary", 0o755),
         ("bin", "binary", 0o644), ("png", "noise", 0o644), ("ogg", "noise", 0o644),
         ("pak", "noise", 0o644), ("txt", "text", 0o644))


def lognormal_sizes(rng, count, total, sigma):
    """Sizes spread like real assets (many small, a few large), adding up to about total."""
    sizes = [rng.lognormvariate(0, sigma) for _ in range(count)]
    scale = total / sum(sizes)
    return [max(1, int(s * scale)) for s in sizes]


def folder_names(rng, count, top):
    names = []
    for i in range(count):
        depth = rng.randint(1, 3)
        parts = [f"{rng.choice(WORDS)}{rng.randint(0, 9)}" for _ in range(depth)]
        names.append(top + "/" + "/".join(parts) + f"-{i}")
    return names


def shape_a(rng):
    """(path, kind, mode, size) for files and (path, target) for links."""
    files = [(EXECUTABLE, "binary", 0o755, 48 * MiB),
             (BUNDLE + "/Contents/Info.plist", "text", 0o644, 2 * KiB)]
    links = []
    for i, name in enumerate(("Engine", "Audio", "Physics", "Net", "Script", "Render")):
        framework = f"{BUNDLE}/Contents/Frameworks/{name}.framework"
        files.append((f"{framework}/Versions/A/{name}", "binary", 0o755, (2 + 2 * i) * MiB))
        files.append((f"{framework}/Versions/A/Resources/Info.plist", "text", 0o644, 1 * KiB))
        links += [(f"{framework}/Versions/Current", "A"),
                  (f"{framework}/{name}", f"Versions/Current/{name}"),
                  (f"{framework}/Resources", "Versions/Current/Resources")]
    for i in range(5):
        files.append((f"{BUNDLE}/Contents/Resources/data{i}.pak", "noise", 0o644,
                      rng.randint(40, 64) * MiB))
    used = sum(f[3] for f in files)
    count = 2000 - len(files)
    folders = folder_names(rng, 120, BUNDLE + "/Contents/Resources")
    sizes = lognormal_sizes(rng, count, 600 * MiB - used, 1.6)
    for i, size in enumerate(sizes):
        ext, kind, mode = rng.choice(KINDS)
        files.append((f"{rng.choice(folders)}/asset{i:05d}.{ext}", kind, mode, size))
    return files, links


def shape_b(rng):
    files = [(EXECUTABLE, "binary", 0o755, 1 * MiB)]
    folders = folder_names(rng, 600, BUNDLE + "/Contents/Resources")
    sizes = lognormal_sizes(rng, 20000 - len(files), 200 * MiB - MiB, 1.0)
    for i, size in enumerate(sizes):
        ext, kind, mode = rng.choice(KINDS)
        files.append((f"{rng.choice(folders)}/f{i:05d}.{ext}", kind, mode, size))
    return files, []


def shape_h(rng):
    files = [(EXECUTABLE, "binary", 0o755, 64 * MiB)]
    for i in range(31):
        files.append((f"{BUNDLE}/Contents/Resources/world{i:02d}.pak", "noise", 0o644, 128 * MiB))
    return files, []


SHAPES = {"A": shape_a, "B": shape_b, "H": shape_h}


def changed_files(root):
    """The files A11 changes: every hundredth of A's files in path order."""
    files = sorted(os.path.relpath(os.path.join(folder, name), root)
                   for folder, _, names in os.walk(root) for name in names
                   if not os.path.islink(os.path.join(folder, name)))
    return files[50::100]


def derive_a11(source, root, rng):
    """A11's tree: A's, with a stretch of each changed file (up to 64 KiB) rewritten."""
    shutil.copytree(source, root, symlinks=True)
    for path in changed_files(root):
        target = os.path.join(root, path)
        size = os.path.getsize(target)
        stretch = min(size, 64 * KiB)
        with open(target, "r+b") as out:
            out.seek(rng.randrange(size - stretch + 1))
            out.write(rng.randbytes(stretch))


def write_tree(root, files, links, pools):
    for path, kind, mode, size in files:
        target = os.path.join(root, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as out:
            remaining = size
            while remaining:
                chunk = min(remaining, 16 * MiB)
                out.write(pools.content(kind, chunk))
                remaining -= chunk
        os.chmod(target, mode)
    for path, target in links:
        os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
        os.symlink(target, os.path.join(root, path))


def zip_info(name, mode):
    info = zipfile.ZipInfo(name, ZIP_TIME)
    info.create_system = 3  # Unix: the upper half of the attributes is the mode
    info.external_attr = mode << 16
    return info


def write_zip(root, archive, noise_stored):
    """Folders first, then files and links in sorted order, as a release tool would."""
    entries = []
    for folder, dirs, names in os.walk(root):
        dirs.sort()
        relative = os.path.relpath(folder, root)
        if relative != ".":
            entries.append(relative + "/")
        entries += sorted(os.path.relpath(os.path.join(folder, n), root) for n in names)
        # Links to folders show up in dirs; os.walk does not follow them.
        entries += sorted(os.path.relpath(os.path.join(folder, d), root) for d in dirs
                          if os.path.islink(os.path.join(folder, d)))
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, allowZip64=True) as out:
        for name in entries:
            path = os.path.join(root, name.rstrip("/"))
            info_stat = os.lstat(path)
            if stat.S_ISLNK(info_stat.st_mode):
                out.writestr(zip_info(name, stat.S_IFLNK | 0o755), os.readlink(path))
            elif stat.S_ISDIR(info_stat.st_mode):
                info = zip_info(name, stat.S_IFDIR | 0o755)
                info.external_attr |= 0x10  # the DOS folder bit
                out.writestr(info, b"")
            else:
                info = zip_info(name, stat.S_IFREG | stat.S_IMODE(info_stat.st_mode))
                stored = noise_stored and name.endswith(".pak")
                info.compress_type = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
                with open(path, "rb") as source, out.open(info, "w", force_zip64=True) as sink:
                    shutil.copyfileobj(source, sink, 4 * MiB)


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as source:
        for block in iter(lambda: source.read(4 * MiB), b""):
            digest.update(block)
    return digest.hexdigest()


def main():
    out, shape = sys.argv[1], sys.argv[2]
    root = os.path.join(out, f"source-{shape}")
    archive = os.path.join(out, f"build-{shape}.zip")
    stamp = archive + ".stamp"
    expected = f"{GENERATOR_VERSION} {SEED} {shape}"
    if not (os.path.exists(stamp) and open(stamp).read().split("\n")[0] == expected):
        rng = random.Random(f"{SEED}-{shape}")
        shutil.rmtree(root, ignore_errors=True)
        if shape == "A11":
            subprocess.run([sys.executable, __file__, out, "A"], check=True,
                           stdout=subprocess.DEVNULL)
            derive_a11(os.path.join(out, "source-A"), root, rng)
        else:
            files, links = SHAPES[shape](rng)
            write_tree(root, files, links, Pools(rng))
        write_zip(root, archive, noise_stored=shape == "H")
        if shape == "H":
            shutil.rmtree(root)  # only its memory is measured, never its tree
        with open(stamp, "w") as out_stamp:
            out_stamp.write(f"{expected}\n{sha256_of(archive)}\n")
    digest = open(stamp).read().split("\n")[1]
    print(archive)
    print(os.path.getsize(archive))
    print(digest)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the seed corpus in fuzz/corpus/<target>/: real-looking release files, archive entry
names, a few tiny zip archives, good and hostile, and patch records. The output
is committed; run this again after changing it. Deterministic: the same files every time."""

import base64
import hashlib
import io
import pathlib
import zipfile

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"

NBSP = "\u00a0"
LINE_SEPARATOR = "\u2028"
IDEOGRAPHIC_SPACE = "\u3000"

# Zip entry kinds as the Unix mode in the upper half of external_attr.
FILE_MODE = 0o100644
EXECUTABLE_MODE = 0o100755
FOLDER_MODE = 0o040755
LINK_MODE = 0o120777
STAMP = (2024, 3, 1, 12, 0, 0)


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode("utf-8"))


def manifests():
    digest = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08"
    write("manifest", "plain.txt",
          "version=1.4.2\n"
          "macurl=https://releases.ashenmarch.example/builds/Ashenmarch-1.4.2.zip\n"
          "macsize=734003200\n"
          "macexe=Ashenmarch.app\n"
          "notes=Bridge of Cinders\n"
          f"macsha256={digest}\n")
    write("manifest", "crlf-comments-blanks.txt",
          "# written by the release tool\r\n"
          "// staging copy\r\n"
          f"{NBSP}version {IDEOGRAPHIC_SPACE}= 1.5.0-beta.2{NBSP}\r\n"
          "\r\n"
          f"macurl=\thttps://cdn.example/a=b?c=d{LINE_SEPARATOR}\r\n"
          "macsize=+1048576\r\n"
          "macexe=\r\n"
          "channel=beta\r\n"
          "no equals sign here\r\n"
          "notes=Ember & Ash \u2014 \u00b7 patch notes\u2026")
    write("manifest", "odd-sizes.txt",
          "macsize=-9223372036854775808\n"
          "macsize=99999999999999999999\n"
          "macsize=0x10\n"
          "macsize=+-1\n"
          "version=\n"
          "=orphan value\n")


def changelogs():
    write("changelog", "two-releases.txt",
          "## 1.4.2 | 2024-03-01\n"
          "+ Bridge of Cinders opens\n"
          "- Removed the old save importer\n"
          "* Faster loading of the world map\n"
          "Unmarked line reads as a change\n"
          "\n"
          "## 1.4.1 | 2024-02-10\n"
          "* Fixed a crash on the title screen\n")
    write("changelog", "crlf-comments-blanks.txt",
          "Text before the first header vanishes\r\n"
          "// internal: do not publish\r\n"
          f"##{NBSP}2.0.0 {IDEOGRAPHIC_SPACE}|  2024-04-01 | late{NBSP}\r\n"
          f"+{NBSP}New region: the Ashen Reach\r\n"
          f"-\t\r\n"
          f"*{LINE_SEPARATOR}odd start\r\n"
          "##\r\n"
          "## | undated\r\n"
          "###nested\r\n"
          "+")


def entry(name, mode, data=b""):
    info = zipfile.ZipInfo(name, STAMP)
    info.create_system = 3  # Unix, so the mode below is read
    info.external_attr = mode << 16
    return info, data


def zip_bytes(entries, compression=zipfile.ZIP_STORED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as archive:
        for info, data in entries:
            info.compress_type = compression
            archive.writestr(info, data)
    return buffer.getvalue()


def archives():
    bundle = [
        entry("Ashenmarch.app/", FOLDER_MODE),
        entry("Ashenmarch.app/Contents/", FOLDER_MODE),
        entry("Ashenmarch.app/Contents/MacOS/", FOLDER_MODE),
        entry("Ashenmarch.app/Contents/MacOS/Ashenmarch", EXECUTABLE_MODE, b"#!/bin/sh\nexit 0\n"),
        entry("Ashenmarch.app/Contents/Info.plist", FILE_MODE, b"<plist>1.4.2</plist>\n"),
        entry("Ashenmarch.app/Contents/Current", LINK_MODE, b"MacOS"),
    ]
    write("extract", "good-bundle.zip", zip_bytes(bundle, zipfile.ZIP_DEFLATED))
    write("extract", "dot-dot.zip", zip_bytes([entry("../escaped.txt", FILE_MODE, b"x")]))
    write("extract", "absolute.zip", zip_bytes([entry("/tmp/escaped.txt", FILE_MODE, b"x")]))
    write("extract", "link-out.zip",
          zip_bytes([entry("out", LINK_MODE, b"../../outside"),
                     entry("out/secret", FILE_MODE, b"x")]))
    write("extract", "link-then-file.zip",
          zip_bytes([entry("dir/up", LINK_MODE, b".."), entry("dir/up/x", FILE_MODE, b"x")]))
    # "escape" is the link the fuzzer leaves in the destination before each run.
    write("extract", "through-existing-link.zip",
          zip_bytes([entry("escape/secret", FILE_MODE, b"x"), entry("escape/", FOLDER_MODE)]))
    write("extract", "replace-existing-link.zip", zip_bytes([entry("escape", FILE_MODE, b"x")]))
    write("extract", "backslash.zip", zip_bytes([entry("..\\escaped.txt", FILE_MODE, b"x")]))
    write("extract", "link-up-after-name.zip",
          zip_bytes([entry("a/link", LINK_MODE, b"x/../../y"), entry("a/link/z", FILE_MODE)]))


def patch_records():
    """An index line, NUL, and the local record the line's span names."""
    for name, compression, data in [
            ("deflated-file.bin", zipfile.ZIP_DEFLATED, b"#!/bin/sh\nexit 0\n" * 4),
            ("stored-link.bin", zipfile.ZIP_STORED, b"MacOS/Ashenmarch")]:
        path = "Ashenmarch.app/Contents/" + ("run" if name.startswith("deflated") else "current")
        kind, mode = ("file", EXECUTABLE_MODE) if "file" in name else ("link", LINK_MODE)
        archive = zip_bytes([entry(path, mode, data)], compression)
        record = archive[:archive.index(b"PK\x01\x02")]
        digest = hashlib.sha256(data).hexdigest()
        line = f"{kind} {mode & 0o777:04o} {len(data)} {digest} 0+{len(record)} - {path}"
        write("patch_record", name, line.encode() + b"\0" + record)


def main():
    manifests()
    changelogs()
    archives()
    patch_records()


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Kills `--cli` runs at random moments and checks that no kill costs the player a build.

Not part of the test suite: a campaign of a few hundred SIGKILLs that takes minutes. A loopback
release host (127.0.0.1 only) publishes 1.1 over an install of 1.0. Each round restores the 1.0
install, starts `ashenmarch-launcher --cli` (which downloads, unpacks into the staging folder,
syncs, swaps, writes the marker and unpacks again over the installed build), kills it with
SIGKILL after a random delay spread over a whole run, and checks:

  after the kill   the install holds a complete build the next start settles on: the marker's
                   version in `build`, or the version of an interrupted swap (`installing.txt`)
                   in `build`, or the marker's version set aside in `build.old` when `build` is
                   gone. Complete: every file of that version, whole, with its mode, and no
                   file of the other; the unpacking's temporary names may remain;
  after a rerun    `--cli` ends in PASS, the marker says 1.1, `build` holds exactly 1.1 and
                   nothing of an update is left in the install root or in `build`.

The launcher must be built with its release host on loopback: by default the end-to-end tests'
build/dev/tests/ashenmarch-launcher-loopback, whose port (AM_E2E_PORT in the build's CMake
cache) the host takes, so do not run that build's tests at the same time. Prints the figures at
the end; exits 1 when any check failed (the install root of each failure is kept in --work).

  scripts/kill-campaign.py [--kills 300] [--launcher PATH --port N] [--seed N] [--work DIR]
"""

import argparse
import hashlib
import http.server
import os
import random
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import zipfile
from collections import Counter

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUNDLE = "Ashenmarch.app"
UNPACKING = ".ashenmarch-unpacking"  # the unpacker's record and temporary names in a tree
SETTLED_ROOT = {"build", "installed.txt", ".lock"}

# The report line printed last tells how far a killed run got (standard output is made
# line-buffered, so a kill loses no whole line).
PHASES = [
    (("PASS",), "finishing"),
    (("re-extract",), "removing the archive"),
    (("installed ",), "unpacking again over the installed build, syncing"),
    (("app exists", "binary exists"), "syncing the staged build, swapping it in, writing the marker"),
    (("downloaded", "sha256"), "unpacking into the staging folder"),
    ((), "fetching the manifest and changelog, downloading"),
]


def arguments():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n")[0],
        epilog=__doc__.split("\n", 2)[2],
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--kills", type=int, default=300, help="runs to kill (default 300)")
    parser.add_argument("--launcher", default=os.path.join(
        SOURCE_DIR, "build/dev/tests/ashenmarch-launcher-loopback"))
    parser.add_argument("--port", type=int, help="the launcher's loopback release port "
                        "(default: AM_E2E_PORT of the launcher's build)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--files", type=int, default=120, help="payload files per build")
    parser.add_argument("--work", help="folder for the host, the installs and failures "
                        "(default: a fresh one under build/)")
    return parser.parse_args()


def build_port(launcher):
    cache = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(launcher))),
                         "CMakeCache.txt")
    with open(cache) as text:
        for line in text:
            if line.startswith("AM_E2E_PORT:"):
                return int(line.split("=", 1)[1])
    raise SystemExit(f"kill-campaign: no AM_E2E_PORT in {cache}; pass --port")


# ---------------------------------------------------------------------------------------------
# The two builds


def build_files(version, count):
    """{path inside build: (bytes, mode)}. Half the payload changes between versions, some files
    exist in one version only, and modes vary, so a mixed or half-written tree shows."""
    files = {
        f"{BUNDLE}/Contents/MacOS/ASHENMARCH": (f"#!/bin/sh\necho {version}\n".encode(), 0o755),
        f"{BUNDLE}/Contents/Info.plist": (f"<plist>{version}</plist>\n".encode() * 40, 0o644),
    }
    for i in range(count):
        changed = i % 2 == 0
        rng = random.Random(f"{version if changed else 'both'}-{i}")
        size = rng.choice((700, 4_000, 60_000, 150_000, 400_000))
        mode = 0o755 if i % 5 == 0 else 0o600 if i % 7 == 0 else 0o644
        files[f"{BUNDLE}/Contents/Resources/pack-{i:03}.dat"] = (rng.randbytes(size), mode)
    for i in range(count // 10):
        files[f"{BUNDLE}/Contents/Resources/only-{version}-{i}.txt"] = (
            f"{version} {i}\n".encode() * 500, 0o644)
    return files


def write_archive(path, files):
    with zipfile.ZipFile(path, "w") as archive:
        for name, (data, mode) in files.items():
            info = zipfile.ZipInfo(name, date_time=(2026, 12, 6, 12, 0, 0))
            info.create_system = 3  # Unix, so the mode counts
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED if name.endswith(".txt") or \
                name.endswith(".plist") else zipfile.ZIP_STORED
            archive.writestr(info, data)


# ---------------------------------------------------------------------------------------------
# The release host


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *_):
        pass


class QuietServer(http.server.ThreadingHTTPServer):
    def handle_error(self, *_):
        pass  # a killed launcher breaks its connection; that is the point


def start_host(folder, port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
        raise SystemExit(f"kill-campaign: something already listens on 127.0.0.1:{port}")
    except OSError:
        pass
    handler = lambda *args: QuietHandler(*args, directory=folder)  # noqa: E731
    server = QuietServer(("127.0.0.1", port), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def publish(folder, port, version):
    archive = os.path.join(folder, f"ashenmarch-{version}.zip")
    with open(archive, "rb") as body:
        data = body.read()
    manifest = (f"version={version}\nmacurl=http://127.0.0.1:{port}/{os.path.basename(archive)}"
                f"\nmacsize={len(data)}\nmacsha256={hashlib.sha256(data).hexdigest()}\n")
    with open(os.path.join(folder, "latest.txt.new"), "w") as out:
        out.write(manifest)
    os.replace(os.path.join(folder, "latest.txt.new"), os.path.join(folder, "latest.txt"))


# ---------------------------------------------------------------------------------------------
# Checks


def tree_problems(tree, expected, allow_unpacking_names):
    """What keeps `tree` from holding exactly `expected`, whole and with its modes."""
    problems, seen = [], set()
    for folder, folders, names in os.walk(tree):
        for name in names + [f for f in folders if os.path.islink(os.path.join(folder, f))]:
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, tree)
            if name.startswith(UNPACKING):
                if not allow_unpacking_names:
                    problems.append(f"leftover {relative}")
                continue
            seen.add(relative)
            if relative not in expected:
                problems.append(f"unexpected {relative}")
                continue
            data, mode = expected[relative]
            status = os.lstat(path)
            if status.st_mode & 0o7777 != mode:
                problems.append(f"{relative}: mode {status.st_mode & 0o7777:o}, not {mode:o}")
            with open(path, "rb") as body:
                if body.read() != data:
                    problems.append(f"{relative}: not the whole file")
    problems += [f"missing {name}" for name in sorted(set(expected) - seen)]
    return problems


def read(path):
    try:
        with open(path, encoding="utf-8") as text:
            return text.read().strip()
    except OSError:
        return None


def after_kill(root, builds):
    """(how the next start settles, problems): a complete build it can settle on must exist."""
    marker, pending = read(os.path.join(root, "installed.txt")), read(
        os.path.join(root, "installing.txt"))
    build, aside = os.path.join(root, "build"), os.path.join(root, "build.old")
    candidates = [("marker names build", marker, build)]
    if pending:
        candidates.append(("swap finished by the pending record", pending, build))
    if not os.path.exists(build):
        candidates.append(("old build put back", marker, aside))
    problems = []
    for how, version, tree in candidates:
        if version in builds and os.path.isdir(tree):
            found = tree_problems(tree, builds[version], allow_unpacking_names=True)
            if not found:
                return how, []
            problems.append(f"{how} ({version}): " + "; ".join(found[:5]))
    return None, problems or [f"no complete build: marker {marker!r}, pending {pending!r}"]


def after_rerun(root, version, files, output):
    """What keeps a finished run from having left exactly `version` and nothing else."""
    problems = []
    if not output.rstrip().endswith("PASS"):
        problems.append("rerun did not pass: " + output.strip().splitlines()[-1:][0]
                        if output.strip() else "rerun printed nothing")
    if read(os.path.join(root, "installed.txt")) != version:
        problems.append(f"marker is not {version}")
    leftovers = sorted(set(os.listdir(root)) - SETTLED_ROOT)
    if leftovers:
        problems.append("leftovers in the root: " + ", ".join(leftovers))
    problems += tree_problems(os.path.join(root, "build"), files, allow_unpacking_names=False)
    return problems


def phase_of(output):
    lines = [line for line in output.splitlines() if line.strip()]
    last = lines[-1] if lines else ""
    for prefixes, phase in PHASES:
        if any(last.startswith(prefix) for prefix in prefixes):
            return phase
    return PHASES[-1][1]


# ---------------------------------------------------------------------------------------------
# The campaign


def run_cli(launcher, root, output_path):
    env = dict(os.environ, AM_INSTALL_DIR=root)
    with open(output_path, "w") as out:
        return subprocess.Popen(["stdbuf", "-oL", launcher, "--cli"], env=env, stdout=out,
                                stderr=subprocess.DEVNULL)


def main():
    args = arguments()
    launcher = os.path.abspath(args.launcher)
    if not os.access(launcher, os.X_OK):
        raise SystemExit(f"kill-campaign: no launcher at {launcher}; build it first "
                         "(cmake --build build/dev --target ashenmarch-launcher-loopback)")
    port = args.port or build_port(launcher)
    os.umask(0o022)
    work = args.work or tempfile.mkdtemp(prefix="kill-campaign-",
                                         dir=os.path.join(SOURCE_DIR, "build"))
    os.makedirs(work, exist_ok=True)
    host_dir, root, pristine = (os.path.join(work, name) for name in ("host", "install",
                                                                       "pristine-1.0"))
    os.makedirs(host_dir, exist_ok=True)
    builds = {version: build_files(version, args.files) for version in ("1.0", "1.1")}
    for version, files in builds.items():
        write_archive(os.path.join(host_dir, f"ashenmarch-{version}.zip"), files)
    with open(os.path.join(host_dir, "changelog.txt"), "w") as out:
        out.write("## 1.1 | 2026-12-07\n+ Kill campaign\n## 1.0\n* First\n")
    server = start_host(host_dir, port)
    output_path = os.path.join(work, "cli.out")
    try:
        # 1.0 installed the ordinary way, kept as the start of every round.
        publish(host_dir, port, "1.0")
        shutil.rmtree(root, ignore_errors=True)
        run_cli(launcher, root, output_path).wait()
        problems = after_rerun(root, "1.0", builds["1.0"], open(output_path).read())
        if problems:
            raise SystemExit("kill-campaign: installing 1.0 failed: " + "; ".join(problems))
        shutil.rmtree(pristine, ignore_errors=True)
        shutil.copytree(root, pristine, symlinks=True)
        publish(host_dir, port, "1.1")

        def whole_run():
            shutil.rmtree(root)
            shutil.copytree(pristine, root, symlinks=True)
            start = time.monotonic()
            run_cli(launcher, root, output_path).wait()
            return time.monotonic() - start

        durations = [whole_run() for _ in range(3)]
        print(f"kill-campaign: a whole --cli run from 1.0 to 1.1 takes "
              f"{statistics.median(durations):.3f} s (median of "
              f"{', '.join(f'{d:.3f}' for d in durations)}); port {port}; work in {work}",
              flush=True)

        rng = random.Random(args.seed)
        phases, settled, failures = Counter(), Counter(), []
        finished_first = rounds = 0
        began = time.monotonic()
        while sum(phases.values()) < args.kills:
            rounds += 1
            if rounds % 20 == 0:
                # Kills spread over a whole run as the machine runs it now: the sync's share
                # moves with whatever else writes to the volume.
                durations.append(whole_run())
            shutil.rmtree(root)
            shutil.copytree(pristine, root, symlinks=True)
            process = run_cli(launcher, root, output_path)
            time.sleep(rng.uniform(0, statistics.median(durations[-5:]) * 1.05))
            if process.poll() is not None:
                finished_first += 1
                continue
            process.send_signal(signal.SIGKILL)
            process.wait()
            phase = phase_of(open(output_path, errors="replace").read())
            phases[phase] += 1
            how, problems = after_kill(root, builds)
            settled[how] += 1
            if not problems:
                rerun = run_cli(launcher, root, output_path)
                rerun.wait()
                problems = after_rerun(root, "1.1", builds["1.1"], open(output_path).read())
            if problems:
                kept = os.path.join(work, f"failure-{len(failures) + 1}")
                shutil.copytree(root, kept, symlinks=True)
                failures.append((phase, problems, kept))
                print(f"  FAILED kill {sum(phases.values())} ({phase}): {problems[:3]} "
                      f"(kept in {kept})", flush=True)
            kills = sum(phases.values())
            if kills % 25 == 0:
                print(f"  {kills} kills, {len(failures)} failed", flush=True)
        elapsed = time.monotonic() - began
    finally:
        server.shutdown()

    kills = sum(phases.values())
    print(f"\nkill-campaign: {kills} kills in {rounds} rounds ({finished_first} runs ended before "
          f"their kill came), {elapsed:.0f} s; seed {args.seed}; whole runs took "
          f"{min(durations):.3f}–{max(durations):.3f} s, median {statistics.median(durations):.3f}")
    print("where the kills landed (the step after the last report line):")
    for _, phase in reversed(PHASES):
        print(f"  {phases[phase]:4}  {phase}")
    print("how the next start settles the killed install:")
    for how, count in settled.most_common():
        print(f"  {count:4}  {how or 'no complete build'}")
    print(f"failed checks: {len(failures)}")
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Times the launcher's update against what a user would do instead. Started by bench/run.sh.

Inputs come from make_inputs.py (archives A and B, and H for the memory check). A static
server on 127.0.0.1 plays the release host. Every round times, for A and then for B, in an
order shuffled per round (fixed seed):

  chain        the window's update run, headless (am-bench-update): manifest, changelog,
               download, staged unpack, swap, marker
  chain+sha    the same with macsha256 in the manifest
  cli          ashenmarch-launcher --cli (unpacks twice by design)
  curl+unzip   curl -o, then unzip -q, then sync
  curl+bsdtar  curl -o, then bsdtar -xf, then sync

The launcher writes the new build through to the disk before it swaps it in, so the two peers
that stand for a user's update end with sync for the same guarantee.
  unpack:*     unpacking alone from the local archive: the launcher, unzip -q, bsdtar -xf,
               on disk and on tmpfs

Then, after the rounds, the patch scenario (as many rounds; --patch-only runs it alone): each
round times A's full update chain as the yardstick, then, with A installed by
`ashenmarch-launcher --update` (which keeps A's file index), release A11 (1 % of A's files
changed) is published with its index and fetched as a patch, once by the window's run
(am-bench-update) and once by `--update`, each from a fresh A install. It reports the bytes the
host sent for the archive against the changed entries' records, the patch's time against the
full update chain's, peak memory, and whether the tree is A11's (diff -r and modes). Last,
`--verify` of the installed A against sha256sum over the same files.

With --baseline, the update chain and --cli of another bench build (an earlier commit's) run in
the same rounds, so that a change's cost is measured under the same load.

Wall time is taken around each command after a sync; peak resident memory comes from
/usr/bin/time (the largest process of a pipeline). Outputs on disk are emptied, not removed,
until the run ends (see release_space).
The table of medians and ratios goes to standard output and is appended to bench/RESULTS.md.
"""

import argparse
import datetime
import hashlib
import os
import platform
import random
import shutil
import socket
import stat
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

BENCH_DIR = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(BENCH_DIR)
EXECUTABLE = "Ashenmarch.app/Contents/MacOS/ASHENMARCH"
SHAPES = ("A", "B")
DISK_TOOLS = ("chain", "chain+sha", "cli", "curl+unzip", "curl+bsdtar",
              "unpack:launcher", "unpack:unzip", "unpack:bsdtar")
TMPFS_TOOLS = ("tmpfs:launcher", "tmpfs:unzip", "tmpfs:bsdtar")
LAUNCHER_TOOLS = ("chain", "chain+sha", "cli", "unpack:launcher", "tmpfs:launcher",
                  "base:chain", "base:cli")
BASELINE_TOOLS = ("base:chain", "base:cli")


def arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True, help="the bench build folder")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--work", required=True, help="inputs and outputs go here")
    parser.add_argument("--tmpfs", default="/dev/shm")
    parser.add_argument("--no-huge", action="store_true", help="skip the 4 GB memory check")
    parser.add_argument("--patch-only", action="store_true",
                        help="only the patch scenario and --verify (with their own yardstick)")
    parser.add_argument("--results", default=os.path.join(BENCH_DIR, "RESULTS.md"))
    parser.add_argument("--command", default="bench/run.sh", help="recorded with the results")
    parser.add_argument("--baseline", help="another bench build folder (an earlier commit's): "
                        "its update chain and --cli run in the same rounds, for a before/after")
    return parser.parse_args()


def run(command, **kwargs):
    return subprocess.run(command, check=True, text=True, capture_output=True, **kwargs)


# ---------------------------------------------------------------------------------------------
# The release host


def changelog_text():
    rng = random.Random(7)
    lines = ["// Ashenmarch release history", ""]
    for release in range(120, 0, -1):
        lines.append(f"## 1.{release // 10}.{release % 10} | 2024-{1 + release % 12:02d}-"
                     f"{1 + release % 28:02d}")
        for _ in range(rng.randint(3, 10)):
            lines.append(rng.choice("+-*") + " " + rng.choice((
                "Fixed a crash when the ember forge overheats during a siege",
                "New region: the Hollow Vale \u2014 three keeps, two bosses",
                "Reduced memory use of terrain streaming",
                "Removed the legacy save converter",
                "Improved pathfinding around collapsed bridges")))
        lines.append("")
    return "\n".join(lines)


class ReleaseHost:
    """scripts/lib/release_host.py (ranges, byte counts) over a folder holding latest.txt,
    changelog.txt, the builds and their file indexes."""

    def __init__(self, folder, port, inputs, publisher):
        self.folder, self.port, self.inputs = folder, port, inputs
        os.makedirs(folder, exist_ok=True)
        for shape, (archive, _, _) in inputs.items():
            link = os.path.join(folder, os.path.basename(archive))
            if not os.path.exists(link):
                os.symlink(os.path.abspath(archive), link)
        self.indexes = {}  # shape -> the text of its file index, written by the studio's tool
        for shape in ("A", "A11"):
            if shape in inputs:
                self.indexes[shape] = self.write_index(shape, publisher)
        with open(os.path.join(folder, "changelog.txt"), "w") as out:
            out.write(changelog_text())
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            raise RuntimeError(f"port {port} is taken; set AM_BENCH_PORT to a free one")
        except OSError:
            pass
        self.server = subprocess.Popen(
            [sys.executable, os.path.join(SOURCE_DIR, "scripts", "lib", "release_host.py"),
             folder, str(port)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise RuntimeError(f"the release host did not start on port {port}")

    def write_index(self, shape, publisher):
        """The index ashenmarch-publish writes beside the archive, put beside it here."""
        archive = self.inputs[shape][0]
        with tempfile.TemporaryDirectory() as out:
            run([publisher, "release", "--zip", archive, "--version", "1", "--url",
                 self.url(shape), "--out", out, "--unsigned"])
            name = os.path.basename(archive) + ".index"
            shutil.copy(os.path.join(out, name), os.path.join(self.folder, name))
        with open(os.path.join(self.folder, name)) as index:
            return index.read()

    def url(self, shape):
        return f"http://127.0.0.1:{self.port}/" + os.path.basename(self.inputs[shape][0])

    def sent(self):
        """{path: body bytes} the host sent since the last call."""
        with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/_sent") as answer:
            lines = answer.read().decode().split("\n")
        return {path: int(n) for path, n, _ in (line.split() for line in lines if line)}

    def publish(self, shape, with_checksum, with_index=False):
        archive, size, digest = self.inputs[shape]
        lines = [f"version=bench-{shape}", f"macurl={self.url(shape)}", f"macsize={size}",
                 "macexe=Ashenmarch.app", "notes=Benchmark build"]
        if with_checksum:
            lines.append(f"macsha256={digest}")
        if with_index:
            text = self.indexes[shape].encode()
            lines += [f"macindex={self.url(shape)}.index",
                      f"macindexsha256={hashlib.sha256(text).hexdigest()}"]
        with open(os.path.join(self.folder, "latest.txt.new"), "w") as out:
            out.write("\n".join(lines) + "\n")
        os.replace(os.path.join(self.folder, "latest.txt.new"),
                   os.path.join(self.folder, "latest.txt"))

    def stop(self):
        self.server.terminate()
        self.server.wait()


# ---------------------------------------------------------------------------------------------
# One timed command


class Sample:
    def __init__(self, seconds, rss_kb, output):
        self.seconds, self.rss_kb, self.output = seconds, rss_kb, output


def timed(command, env=None):
    subprocess.run(["sync"], check=True)
    with tempfile.NamedTemporaryFile("r", suffix=".time") as memory:
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", memory.name, *command],
                              env=env, text=True, capture_output=True)
        seconds = time.perf_counter() - start
        if done.returncode != 0:
            raise RuntimeError(f"{command} failed ({done.returncode}):\n{done.stdout}\n"
                               f"{done.stderr}")
        rss_kb = int(memory.read().strip().splitlines()[-1])
    return Sample(seconds, rss_kb, done.stdout)


def release_space(tree):
    """Empties every file but keeps the inodes: ext4 makes new files slow for minutes near
    recently deleted ones, which would tax whichever command runs next. Removed at the end."""
    for folder, _, names in os.walk(tree):
        for name in names:
            path = os.path.join(folder, name)
            if not os.path.islink(path):
                os.truncate(path, 0)


class Bench:
    def __init__(self, args, inputs, host, runs):
        self.args, self.inputs, self.host, self.runs = args, inputs, host, runs
        self.tools = os.path.join(args.build, "bench")
        self.disk_tools = DISK_TOOLS + (BASELINE_TOOLS if args.baseline else ())
        self.samples = {}  # (shape, tool) -> [Sample]
        self.window = {}  # shape -> [dict of the driver's figures]
        self.checked = set()  # (shape, tool) whose tree was compared with the source

    def launcher_env(self, root):
        env = dict(os.environ, AM_INSTALL_DIR=root, QT_QPA_PLATFORM="offscreen")
        return env

    def command(self, shape, tool, out):
        """(command, environment, folder the tree lands in)."""
        archive = self.inputs[shape][0]
        url = self.host.url(shape)
        build = self.args.build
        if tool in BASELINE_TOOLS:
            build, tool = self.args.baseline, tool.split(":")[1]
        if tool.startswith("chain"):
            self.host.publish(shape, with_checksum=tool == "chain+sha")
            return ([os.path.join(build, "bench", "am-bench-update"), f"bench-{shape}"],
                    self.launcher_env(out), os.path.join(out, "build"))
        self.host.publish(shape, with_checksum=False)
        if tool == "cli":
            return ([os.path.join(build, "src", "ashenmarch-launcher"), "--cli"],
                    self.launcher_env(out), os.path.join(out, "build"))
        os.makedirs(out, exist_ok=True)
        tree = os.path.join(out, "tree")
        download = os.path.join(out, "build.zip")
        if tool == "curl+unzip":
            script = 'curl -sS -o "$1" "$2" && unzip -q "$1" -d "$3" && sync'
            return ["sh", "-c", script, "sh", download, url, tree], None, tree
        if tool == "curl+bsdtar":
            script = 'curl -sS -o "$1" "$2" && mkdir "$3" && bsdtar -xf "$1" -C "$3" && sync'
            return ["sh", "-c", script, "sh", download, url, tree], None, tree
        unpacker = tool.split(":")[1]
        if unpacker == "launcher":
            return [os.path.join(self.tools, "am-bench-unpack"), archive, tree], None, tree
        if unpacker == "unzip":
            return ["unzip", "-q", archive, "-d", tree], None, tree
        os.makedirs(tree)
        return ["bsdtar", "-xf", archive, "-C", tree], None, tree

    def measure(self, shape, tool, out):
        command, env, tree = self.command(shape, tool, out)
        sample = timed(command, env)
        if tool.endswith("cli") and not sample.output.rstrip().endswith("PASS"):
            raise RuntimeError("--cli did not pass:\n" + sample.output)
        if tool.startswith("chain"):
            figures = dict(item.split("=") for item in sample.output.split())
            self.window.setdefault((shape, tool), []).append(figures)
        if tool in LAUNCHER_TOOLS:
            self.check_tree(shape, tool, tree)
        self.samples.setdefault((shape, tool), []).append(sample)
        print(f"  {shape} {tool:16} {sample.seconds:7.3f} s {sample.rss_kb / 1024:7.1f} MB",
              flush=True)

    def check_tree(self, shape, tool, tree):
        mode = os.stat(os.path.join(tree, EXECUTABLE)).st_mode & 0o7777
        if mode != 0o755:
            raise RuntimeError(f"{tool} left the executable with mode {mode:o}")
        if (shape, tool) not in self.checked:
            source = os.path.join(self.args.work, f"source-{shape}")
            subprocess.run(["diff", "-r", "--no-dereference", source, tree], check=True,
                           stdout=subprocess.DEVNULL)
            self.checked.add((shape, tool))

    def round(self, number, rng):
        for shape in SHAPES:
            tools = list(self.disk_tools + TMPFS_TOOLS)
            rng.shuffle(tools)
            for tool in tools:
                base = self.args.tmpfs_runs if tool.startswith("tmpfs") else self.runs
                out = os.path.join(base, f"r{number}-{shape}-{tool.replace(':', '-')}")
                self.measure(shape, tool, out)
                if tool.startswith("tmpfs"):
                    shutil.rmtree(out)
                else:
                    release_space(out)


# ---------------------------------------------------------------------------------------------
# Reporting


def median(values):
    return statistics.median(values)


def seconds_cell(samples):
    values = [s.seconds for s in samples]
    return f"{median(values):.3f} ({min(values):.3f}–{max(values):.3f})"


def rss_cell(samples):
    return f"{median([s.rss_kb for s in samples]) / 1024:.1f}"


TOOL_NAMES = {
    "chain": "update chain (window, headless)",
    "chain+sha": "update chain with macsha256",
    "cli": "ashenmarch-launcher --cli",
    "curl+unzip": "curl -o && unzip -q && sync",
    "curl+bsdtar": "curl -o && bsdtar -xf && sync",
    "unpack:launcher": "unpack alone: launcher",
    "unpack:unzip": "unpack alone: unzip -q",
    "unpack:bsdtar": "unpack alone: bsdtar -xf",
    "tmpfs:launcher": "unpack alone on tmpfs: launcher",
    "tmpfs:unzip": "unpack alone on tmpfs: unzip -q",
    "tmpfs:bsdtar": "unpack alone on tmpfs: bsdtar -xf",
    "base:chain": "update chain, baseline build",
    "base:cli": "--cli, baseline build",
}

# (shape, launcher tool, peer tool, bound): launcher median ÷ peer median must stay at or below.
TARGETS = [
    ("A", "chain", "curl+unzip", 0.5),
    ("A", "chain", "curl+bsdtar", 0.85),
    ("A", "unpack:launcher", "unpack:bsdtar", 0.8),
    ("B", "unpack:launcher", "unpack:bsdtar", 1.05),
    ("B", "tmpfs:launcher", "tmpfs:bsdtar", 1.0),
]
RATIOS = TARGETS + [
    ("B", "chain", "curl+unzip", None),
    ("B", "chain", "curl+bsdtar", None),
    ("A", "cli", "curl+bsdtar", None),
    ("B", "cli", "curl+bsdtar", None),
    ("A", "unpack:launcher", "unpack:unzip", None),
    ("B", "unpack:launcher", "unpack:unzip", None),
    ("A", "tmpfs:launcher", "tmpfs:bsdtar", None),
]


def report(bench, extra):
    rows = ["| build | command | median s (min–max) | peak RSS MB |", "|---|---|---|---|"]
    for shape in SHAPES:
        for tool in bench.disk_tools + TMPFS_TOOLS:
            samples = bench.samples[(shape, tool)]
            rows.append(f"| {shape} | {TOOL_NAMES[tool]} | {seconds_cell(samples)} | "
                        f"{rss_cell(samples)} |")
    rows += ["", "| build | launcher ÷ peer (medians) | ratio | target | |", "|---|---|---|---|---|"]
    baseline = [(shape, tool, "base:" + tool, None) for shape in SHAPES for tool in ("chain", "cli")]
    for shape, ours, peer, bound in RATIOS + (baseline if bench.args.baseline else []):
        ratio = (median([s.seconds for s in bench.samples[(shape, ours)]]) /
                 median([s.seconds for s in bench.samples[(shape, peer)]]))
        verdict = "" if bound is None else ("met" if ratio <= bound else "NOT met")
        target = "" if bound is None else f"≤ {bound:.2f}"
        rows.append(f"| {shape} | {TOOL_NAMES[ours]} ÷ {TOOL_NAMES[peer]} | {ratio:.2f} | "
                    f"{target} | {verdict} |")
    rows += [""] + extra
    return "\n".join(rows)


def window_lines(bench):
    lines = []
    for (shape, tool), runs in sorted(bench.window.items()):
        stalls = sorted((float(r["max_stall_ms"]), float(r["max_stall_at_ms"])) for r in runs)
        change = max(float(r["longest_change_ms"]) for r in runs)
        pending = max(int(r["max_pending"]) for r in runs)
        lines.append(f"- {shape} {tool}: longest event-loop stall per run "
                     f"{', '.join(f'{x:.1f} (at {at:.0f})' for x, at in stalls)} ms (target ≤ 16; "
                     f"at: ms into the run); longest single "
                     f"window change {change:.1f} ms; most window changes queued at once "
                     f"{pending} (target: at most one progress change); progress changes applied"
                     f" per run {median([int(r['progress_applied']) for r in runs]):.0f}")
    return lines


def hashing_lines(bench):
    lines = []
    for shape in SHAPES:
        plain = median([s.seconds for s in bench.samples[(shape, "chain")]])
        hashed = median([s.seconds for s in bench.samples[(shape, "chain+sha")]])
        alone = timed([os.path.join(bench.tools, "am-bench-sha256"), bench.inputs[shape][0]])
        seconds = float(alone.output.split()[0].split("=")[1])
        lines.append(f"- {shape}: chain with macsha256 ÷ without {hashed / plain:.3f} "
                     f"(target ≤ 1.05); the Sha256 class alone hashes this archive in "
                     f"{seconds:.3f} s = {100 * seconds / plain:.1f} % of the chain's median")
    return lines


def huge_lines(bench):
    """Memory of the chain and of unpacking alone on the 4 GB archive, one run each."""
    out = os.path.join(bench.runs, "huge")
    unpack = timed([os.path.join(bench.tools, "am-bench-unpack"), bench.inputs["H"][0],
                    os.path.join(out, "tree")])
    shutil.rmtree(out)
    bench.host.publish("H", with_checksum=False)
    chain = timed([os.path.join(bench.tools, "am-bench-update"), "bench-H"],
                  bench.launcher_env(out))
    shutil.rmtree(out)
    subprocess.run(["sync"], check=True)
    size = bench.inputs["H"][1] / 2**30
    return [f"- H ({size:.2f} GiB archive): unpack alone {unpack.seconds:.1f} s, peak RSS "
            f"{unpack.rss_kb / 1024:.1f} MB; update chain {chain.seconds:.1f} s, peak RSS "
            f"{chain.rss_kb / 1024:.1f} MB ({chain.output.strip()})"]


def index_entries(text):
    """{path: (sha256, record length)} of the files and links in a file index."""
    entries = {}
    for line in text.split("\n")[1:]:
        if line:
            kind, _, _, digest, span, _, path = line.split(" ", 6)
            if kind != "folder":
                entries[path] = (digest, int(span.split("+")[1]))
    return entries


def item_modes(root):
    modes = {}
    for folder, dirs, names in os.walk(root):
        for name in dirs + names:
            path = os.path.join(folder, name)
            modes[os.path.relpath(path, root)] = stat.S_IMODE(os.lstat(path).st_mode)
    modes.pop(".ashenmarch-index", None)  # the launcher's own, not the build's
    return modes


def compare_trees(source, tree):
    """The tree must be the source's: every byte and link (diff -r), and every mode."""
    subprocess.run(["diff", "-r", "--no-dereference", "-x", ".ashenmarch-index", source, tree],
                   check=True, stdout=subprocess.DEVNULL)
    expected, found = item_modes(source), item_modes(tree)
    if expected != found:
        differing = sorted(k for k in expected.keys() | found.keys()
                           if expected.get(k) != found.get(k))
        raise RuntimeError(f"{tree}: modes differ from {source}: {differing[:5]}")


def install_a(bench, root):
    """A, installed whole by --update with its file index, as a player would have 1.0."""
    bench.host.publish("A", with_checksum=False, with_index=True)
    done = run([bench.launcher, "--update"], env=bench.launcher_env(root))
    if not done.stdout.rstrip().endswith("UPDATED bench-A"):
        raise RuntimeError("installing A failed:\n" + done.stdout)


def patch_lines(bench):
    """A to A11 by patch, by the window's run and by --update, each from a fresh A."""
    before = index_entries(bench.host.indexes["A"])
    after = index_entries(bench.host.indexes["A11"])
    changed = {path: entry for path, entry in after.items() if before.get(path) != entry}
    record_bytes = sum(length for _, length in changed.values())
    index_bytes = len(bench.host.indexes["A11"].encode())
    archive_path = "/" + os.path.basename(bench.inputs["A11"][0])
    samples = {"chain": [], "window": [], "update": []}
    sent = []
    commands = {"window": [os.path.join(bench.tools, "am-bench-update"), "bench-A11"],
                "update": [bench.launcher, "--update"]}
    for number in range(bench.args.rounds):
        # The full update chain of A, in the same round: the patches' yardstick.
        root = os.path.join(bench.runs, f"patch{number}-chain")
        bench.host.publish("A", with_checksum=False)
        samples["chain"].append(timed([os.path.join(bench.tools, "am-bench-update"), "bench-A"],
                                      bench.launcher_env(root)))
        release_space(root)
        for tool in ("window", "update"):
            # A fresh folder each time, emptied afterwards: see release_space.
            root = os.path.join(bench.runs, f"patch{number}-{tool}")
            install_a(bench, root)
            bench.host.publish("A11", with_checksum=False, with_index=True)
            bench.host.sent()
            sample = timed(commands[tool], bench.launcher_env(root))
            sent.append(bench.host.sent().get(archive_path, 0))
            if tool == "update" and "transfer     : patch" not in sample.output:
                raise RuntimeError("--update did not patch:\n" + sample.output)
            if number == 0:
                compare_trees(os.path.join(bench.args.work, "source-A11"),
                              os.path.join(root, "build"))
            samples[tool].append(sample)
            release_space(root)
            print(f"  A11 patch:{tool:10} {sample.seconds:7.3f} s "
                  f"{sample.rss_kb / 1024:7.1f} MB {sent[-1]} bytes", flush=True)

    chain = median([s.seconds for s in samples["chain"]])
    lines = [f"- A → A11: {len(changed)} of {len(after)} files and links changed "
             f"({100 * len(changed) / len(after):.1f} %), their records {record_bytes} bytes; the "
             f"host sent {median(sent):.0f} bytes of the archive per patch (median; "
             f"{min(sent)}–{max(sent)}) = {median(sent) / record_bytes:.3f} × the records "
             f"(target ≤ 1.05), plus the index, {index_bytes} bytes"]
    for tool, name in (("window", "window's run (am-bench-update)"), ("update", "--update")):
        seconds = median([s.seconds for s in samples[tool]])
        lines.append(f"- patch by the {name}: {seconds_cell(samples[tool])} s, "
                     f"÷ the full update chain's median in the same rounds "
                     f"({seconds_cell(samples['chain'])} s) = {seconds / chain:.3f} "
                     f"(target ≤ 0.1); peak RSS {rss_cell(samples[tool])} MB (target ≤ 40)")
    lines.append("- the tree after each kind of patch: identical to A11 unpacked (diff -r, every "
                 "mode), the launcher's index file aside")
    return lines + verify_lines(bench, os.path.join(bench.runs, "verify"))


def verify_lines(bench, root):
    """--verify of an installed A against sha256sum over the same files, interleaved."""
    install_a(bench, root)
    build = os.path.join(root, "build")
    listing = os.path.join(bench.runs, "files.list")
    with open(listing, "wb") as out:
        for folder, _, names in os.walk(build):
            for name in sorted(names):
                path = os.path.join(folder, name)
                if os.path.isfile(path) and not os.path.islink(path) and \
                        os.path.relpath(path, build) != ".ashenmarch-index":
                    out.write(path.encode() + b"\0")
    samples = {"verify": [], "sha256sum": []}
    for _ in range(bench.args.rounds):
        samples["verify"].append(timed([bench.launcher, "--verify"], bench.launcher_env(root)))
        samples["sha256sum"].append(timed(["xargs", "-0", "-a", listing, "sha256sum"]))
    if not samples["verify"][0].output.rstrip().endswith("VERIFIED"):
        raise RuntimeError("--verify:\n" + samples["verify"][0].output)
    ours = median([s.seconds for s in samples["verify"]])
    theirs = median([s.seconds for s in samples["sha256sum"]])
    return [f"- --verify of A: {seconds_cell(samples['verify'])} s, peak RSS "
            f"{rss_cell(samples['verify'])} MB; sha256sum over the same files "
            f"{seconds_cell(samples['sha256sum'])} s; ratio {ours / theirs:.2f} (target ≤ 0.6)"]


def parse_lines(bench):
    done = run([os.path.join(bench.tools, "am-bench-parse"), "--benchmark_repetitions=5",
                "--benchmark_report_aggregates_only=true"])
    lines = ["- parsing (Google Benchmark, medians of 5, target ≥ 100 MB/s):"]
    for line in done.stdout.splitlines():
        if "_median" in line:
            name = line.split()[0].replace("/real_time", "").replace("_median", "")
            rate = line.split("bytes_per_second=")[1].strip()
            lines.append(f"  - {name}: {rate}")
    return lines


def machine_lines(args, load_before, load_after):
    def first(path, key):
        with open(path) as source:
            for line in source:
                if line.startswith(key):
                    return line.split(":", 1)[1].strip()
        return "?"

    commit = run(["git", "-C", SOURCE_DIR, "rev-parse", "--short", "HEAD"]).stdout.strip()
    dirty = run(["git", "-C", SOURCE_DIR, "status", "--porcelain", "--untracked-files=no"])
    if dirty.stdout.strip():
        commit += " (with uncommitted changes)"
    disk = run(["df", "-T", args.work]).stdout.splitlines()[-1].split()[1]
    return [
        f"- date: {datetime.datetime.now().astimezone().isoformat(timespec='seconds')}",
        f"- machine: {platform.node()}, {first('/proc/cpuinfo', 'model name')}, "
        f"{os.cpu_count()} cores, {int(first('/proc/meminfo', 'MemTotal').split()[0]) // 1024}"
        f" MB RAM, Linux {platform.release()}; outputs on {disk}, tmpfs at {args.tmpfs}",
        f"- commit: {commit}",
        f"- command: `{args.command}`",
        (f"- rounds: {args.rounds} of the patch scenario only (--patch-only)" if args.patch_only
         else f"- rounds: {args.rounds}, interleaved A B A B …, commands shuffled per round"),
        f"- load average (1, 5, 15 min) before: {load_before}, after: {load_after}",
    ]


def make_inputs(work, shape):
    lines = run([sys.executable, os.path.join(BENCH_DIR, "make_inputs.py"), work, shape])
    archive, size, digest = lines.stdout.split()
    return archive, int(size), digest


def main():
    args = arguments()
    os.makedirs(args.work, exist_ok=True)
    print("Preparing inputs (generated once, then reused)…", flush=True)
    inputs = {shape: make_inputs(args.work, shape) for shape in SHAPES + ("A11",)}
    if not args.no_huge:
        inputs["H"] = make_inputs(args.work, "H")
    runs = os.path.join(args.work, "runs")
    shutil.rmtree(runs, ignore_errors=True)
    os.makedirs(runs)
    # New folders below go to block groups with free inodes (ext4's Orlov placement); otherwise
    # file creation near other recently deleted files slows every unpacker down unevenly.
    subprocess.run(["chattr", "+T", runs], stderr=subprocess.DEVNULL)
    args.tmpfs_runs = tempfile.mkdtemp(prefix="am-bench-", dir=args.tmpfs)
    host = ReleaseHost(os.path.join(args.work, "host"), args.port, inputs,
                       os.path.join(args.build, "tools", "publish", "ashenmarch-publish"))
    bench = Bench(args, inputs, host, runs)
    load_before = " ".join(open("/proc/loadavg").read().split()[:3])
    try:
        if args.patch_only:
            table = "\n".join(["Patch update and --verify:"] + patch_lines(bench))
            return finish(args, load_before, table)
        rng = random.Random(1)
        for number in range(args.rounds):
            print(f"Round {number + 1} of {args.rounds}", flush=True)
            bench.round(number, rng)
        extra = ["Window (main-thread probe, worst run):"] + window_lines(bench)
        extra += ["", "Hashing:"] + hashing_lines(bench)
        extra += ["", "Patch update and --verify:"] + patch_lines(bench)
        if not args.no_huge:
            extra += ["", "Memory with a large archive:"] + huge_lines(bench)
        extra += ["", "Parsing:"] + parse_lines(bench)
    finally:
        host.stop()
        shutil.rmtree(args.tmpfs_runs, ignore_errors=True)
        shutil.rmtree(runs, ignore_errors=True)
    finish(args, load_before, report(bench, extra))


def finish(args, load_before, table):
    load_after = " ".join(open("/proc/loadavg").read().split()[:3])
    print("\n" + table)
    header = machine_lines(args, load_before, load_after)
    with open(args.results, "a") as out:
        out.write(f"\n## Run of {header[0].split(': ', 1)[1]}\n\n" + "\n".join(header) +
                  "\n\n" + table + "\n")
    print(f"\nAppended to {args.results}")


if __name__ == "__main__":
    main()

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

With --baseline, the update chain and --cli of another bench build (an earlier commit's) run in
the same rounds, so that a change's cost is measured under the same load.

Wall time is taken around each command after a sync; peak resident memory comes from
/usr/bin/time (the largest process of a pipeline). Outputs on disk are emptied, not removed,
until the run ends (see release_space).
The table of medians and ratios goes to standard output and is appended to bench/RESULTS.md.
"""

import argparse
import datetime
import os
import platform
import random
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

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
    """python3 -m http.server over a folder holding latest.txt, changelog.txt and the builds."""

    def __init__(self, folder, port, inputs):
        self.folder, self.port, self.inputs = folder, port, inputs
        os.makedirs(folder, exist_ok=True)
        for shape, (archive, _, _) in inputs.items():
            link = os.path.join(folder, os.path.basename(archive))
            if not os.path.exists(link):
                os.symlink(os.path.abspath(archive), link)
        with open(os.path.join(folder, "changelog.txt"), "w") as out:
            out.write(changelog_text())
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            raise RuntimeError(f"port {port} is taken; set AM_BENCH_PORT to a free one")
        except OSError:
            pass
        self.server = subprocess.Popen(
            [sys.executable, "-m", "http.server", str(port), "--bind", "127.0.0.1",
             "--directory", folder], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise RuntimeError(f"the release host did not start on port {port}")

    def url(self, shape):
        return f"http://127.0.0.1:{self.port}/" + os.path.basename(self.inputs[shape][0])

    def publish(self, shape, with_checksum):
        archive, size, digest = self.inputs[shape]
        lines = [f"version=bench-{shape}", f"macurl={self.url(shape)}", f"macsize={size}",
                 "macexe=Ashenmarch.app", "notes=Benchmark build"]
        if with_checksum:
            lines.append(f"macsha256={digest}")
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
        f"- rounds: {args.rounds}, interleaved A B A B …, commands shuffled per round",
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
    inputs = {shape: make_inputs(args.work, shape) for shape in SHAPES}
    if not args.no_huge:
        inputs["H"] = make_inputs(args.work, "H")
    runs = os.path.join(args.work, "runs")
    shutil.rmtree(runs, ignore_errors=True)
    os.makedirs(runs)
    # New folders below go to block groups with free inodes (ext4's Orlov placement); otherwise
    # file creation near other recently deleted files slows every unpacker down unevenly.
    subprocess.run(["chattr", "+T", runs], stderr=subprocess.DEVNULL)
    args.tmpfs_runs = tempfile.mkdtemp(prefix="am-bench-", dir=args.tmpfs)
    host = ReleaseHost(os.path.join(args.work, "host"), args.port, inputs)
    bench = Bench(args, inputs, host, runs)
    load_before = " ".join(open("/proc/loadavg").read().split()[:3])
    try:
        rng = random.Random(1)
        for number in range(args.rounds):
            print(f"Round {number + 1} of {args.rounds}", flush=True)
            bench.round(number, rng)
        extra = ["Window (main-thread probe, worst run):"] + window_lines(bench)
        extra += ["", "Hashing:"] + hashing_lines(bench)
        if not args.no_huge:
            extra += ["", "Memory with a large archive:"] + huge_lines(bench)
        extra += ["", "Parsing:"] + parse_lines(bench)
    finally:
        host.stop()
        shutil.rmtree(args.tmpfs_runs, ignore_errors=True)
        shutil.rmtree(runs, ignore_errors=True)
    load_after = " ".join(open("/proc/loadavg").read().split()[:3])
    table = report(bench, extra)
    print("\n" + table)
    header = machine_lines(args, load_before, load_after)
    with open(args.results, "a") as out:
        out.write(f"\n## Run of {header[0].split(': ', 1)[1]}\n\n" + "\n".join(header) +
                  "\n\n" + table + "\n")
    print(f"\nAppended to {args.results}")


if __name__ == "__main__":
    main()

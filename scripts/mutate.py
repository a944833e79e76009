#!/usr/bin/env python3
"""Mutation check: does the test suite catch plausible single faults?

Each fault below is one small edit a developer could make by mistake. The script applies each
one alone to a scratch copy of the current commit, rebuilds incrementally, runs the whole suite
and records whether any test failed. Not part of CI: a full run takes about half an hour.

  scripts/mutate.py                 every fault, a Markdown table on standard output
  scripts/mutate.py --only 3 7      just those faults
  scripts/mutate.py --list          the faults, without running anything
  scripts/mutate.py --help          this text

The scratch copy lives in a temporary folder (a git worktree of HEAD, so commit first); it is
removed at the end.
"""
import argparse
import os
import subprocess
import sys
import tempfile

# (fault, file, text that must occur exactly once, what it becomes)
FAULTS = [
]


def run(command, cwd, quiet=True):
    return subprocess.run(command, cwd=cwd, text=True,
                          stdout=subprocess.PIPE if quiet else None,
                          stderr=subprocess.STDOUT if quiet else None)


def first_failure(output):
    for line in output.splitlines():
        if "***Failed" in line or "***Exception" in line or "***Timeout" in line:
            return line.split(" - ", 1)[-1].split("***")[0].strip().split()[0]
    return ""


def check(scratch, build, index, fault):
    description, path, before, after = fault
    target = os.path.join(scratch, path)
    original = open(target, encoding="utf-8").read()
    if original.count(before) != 1:
        return "stale", f"text found {original.count(before)} times in {path}"
    try:
        open(target, "w", encoding="utf-8").write(original.replace(before, after))
        built = run(["cmake", "--build", build], scratch)
        if built.returncode != 0:
            return "no build", ""
        tests = run(["ctest", "--test-dir", build, "--parallel", "2", "--stop-on-failure",
                     "--timeout", "120"], scratch)
        if tests.returncode == 0:
            return "missed", ""
        return "caught", first_failure(tests.stdout)
    finally:
        open(target, "w", encoding="utf-8").write(original)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", type=int, nargs="*", help="fault numbers to try (from 1)")
    parser.add_argument("--list", action="store_true", help="print the faults and stop")
    args = parser.parse_args()
    chosen = [(i, f) for i, f in enumerate(FAULTS, 1) if not args.only or i in args.only]
    if args.list:
        for i, fault in chosen:
            print(f"{i:2}  {fault[0]}  ({fault[1]})")
        return 0

    top = run(["git", "rev-parse", "--show-toplevel"], os.getcwd()).stdout.strip()
    scratch = tempfile.mkdtemp(prefix="am-mutate-")
    build = os.path.join(scratch, "build", "mutate")
    run(["git", "worktree", "add", "--detach", scratch, "HEAD"], top)
    try:
        configured = run(["cmake", "-S", scratch, "-B", build, "-G", "Ninja",
                          "-DCMAKE_BUILD_TYPE=Debug", "-DASHENMARCH_BUILD_TESTS=ON"], scratch)
        if configured.returncode != 0 or run(["cmake", "--build", build], scratch).returncode:
            print("the unchanged tree does not build", file=sys.stderr)
            return 2
        if run(["ctest", "--test-dir", build, "--parallel", "2"], scratch).returncode:
            print("the unchanged tree fails its tests", file=sys.stderr)
            return 2
        print("| # | fault | result | first failing test |")
        print("|---|---|---|---|")
        for i, fault in chosen:
            result, detail = check(scratch, build, i, fault)
            print(f"| {i} | {fault[0]} | {result} | {detail} |", flush=True)
    finally:
        run(["git", "worktree", "remove", "--force", scratch], top)
    return 0


if __name__ == "__main__":
    sys.exit(main())

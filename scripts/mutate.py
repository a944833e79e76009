#!/usr/bin/env python3
"""Mutation check: does the test suite catch plausible single faults?

Each fault below is one small edit a developer could make by mistake. The script applies each
one alone to a scratch copy of the current commit, rebuilds incrementally, runs the whole suite
and records whether any test failed (and failed again when rerun, so that a flaky test cannot
pass a fault off as caught). Not part of CI: a full run takes about ten minutes on two cores once
ccache holds the build, up to an hour without it.

  scripts/mutate.py                      every fault, a Markdown table on standard output
  scripts/mutate.py --only 3 7           just those faults
  scripts/mutate.py --list               the faults, without running anything
  scripts/mutate.py --check              whether every fault still applies to the sources
  scripts/mutate.py --port 47700         the end-to-end tests' loopback port for the scratch build
  scripts/mutate.py --compare A.md B.md  one table from two runs: fault | caught before | after
  scripts/mutate.py --help               this text

The scratch copy lives in a temporary folder (a git worktree of HEAD, so commit first); it is
removed at the end. Builds and tests run at low priority, through ccache when it is installed.
A fault whose text no longer occurs exactly once is reported "stale": update it with the code.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

# (area, fault, file, text that must occur exactly once, what it becomes). Areas marked "moving"
# are in code other work is reshaping; their text may need updating when it lands.
FAULTS = [
    # formats
    ("formats", "manifest keeps lines with control characters",
     "src/formats/Manifest.cpp",
     "line.starts_with(\"//\") ||\n            Text::hasControlCharacter(line)) {",
     "line.starts_with(\"//\")) {"),
    ("formats", "manifest lines trimmed without their CR (CR LF mishandled)",
     "src/formats/Manifest.cpp",
     "const std::string_view line = Text::trimWhitespaceAndNewlines(*read);",
     "const std::string_view line = Text::trimWhitespace(*read);"),
    ("formats", "changelog header split at the last bar",
     "src/formats/Changelog.cpp",
     "    header = Text::trimWhitespace(header);\n    const std::size_t bar = header.find('|');",
     "    header = Text::trimWhitespace(header);\n    const std::size_t bar = header.rfind('|');"),
    ("formats", "UTF-8 decoder accepts overlong two-byte forms (off by two)",
     "src/formats/Text.cpp", "if (lead >= 0xC2 && lead <= 0xDF) {",
     "if (lead >= 0xC0 && lead <= 0xDF) {"),
    ("formats", "release time accepts hour 24",
     "src/formats/ReleaseTime.cpp", "hour > 23", "hour > 24"),
    ("formats", "file index accepts set-id mode bits",
     "src/formats/FileIndex.cpp", "value > 0777) {", "value > 07777) {"),
    # transfer
    ("transfer", "idle time-out counted from the headers, not the last byte",
     "src/core/transfer/HttpGet.cpp",
     "    const size_t bytes = size * count;\n    state.watch.received(bytes, Clock::now());\n",
     "    const size_t bytes = size * count;\n"),
    # Caught by nothing, and need not be: libcurl's own timer wakes the wait within about a
    # second, so a stop still ends the transfer; a bound tight enough to see that would be flaky.
    ("transfer", "a stop request does not wake a transfer in progress",
     "src/core/transfer/HttpGet.cpp",
     "[multi] { curl_multi_wakeup(multi); }", "[multi] { (void)multi; }"),
    # Caught by nothing, and need not be: CURLOPT_PROTOCOLS_STR refuses the redirect as well, with
    # the same error (the https test proves the refusal).
    ("transfer", "redirects may leave https for plain http",
     "src/core/transfer/HttpGet.cpp",
     "CURLOPT_REDIR_PROTOCOLS_STR, allowedProtocols(options.allowPlainHttp)",
     "CURLOPT_REDIR_PROTOCOLS_STR, allowedProtocols(true)"),
    ("transfer", "resume offset off by one in the Range header",
     "src/core/transfer/HttpGet.cpp", "std::to_string(resume->offset) + \"-\"",
     "std::to_string(resume->offset + 1) + \"-\""),
    ("transfer", "a complete but unfinished partial file is thrown away",
     "src/core/transfer/PartialDownload.cpp", "size_ <= record_.length", "size_ < record_.length"),
    ("transfer", "a 206 for another range is appended",
     "src/core/transfer/DownloadSink.cpp",
     "if (!range || range->first != resume_->offset ||", "if (!range ||"),
    ("transfer", "progress fraction counts only this attempt's bytes",
     "src/core/transfer/DownloadSink.cpp",
     "onProgress_(part_.size(), total_);",
     "onProgress_(part_.size() - (resume_ ? resume_->offset : 0), total_);"),
    ("transfer", "HTTP 4xx retried like 5xx",
     "src/core/transfer/RetryPolicy.cpp", "return httpStatus >= 500;", "return httpStatus >= 400;"),
    ("transfer", "bytes that failed the checksum are kept for the next run",
     "src/core/transfer/FileDownloader.cpp",
     "return diskFull || error.is(AmCode::ChecksumMismatch) ||",
     "return diskFull ||"),
    ("transfer", "a text of exactly 4 MiB refused (off by one)",
     "src/core/transfer/Fetch.cpp",
     "if (static_cast<std::int64_t>(body_.size() + chunk.size()) > maxBytes_) {",
     "if (static_cast<std::int64_t>(body_.size() + chunk.size()) >= maxBytes_) {"),
    # Caught by nothing, and need not be: libcurl's protocol list refuses the address before
    # anything is sent, and the refusal becomes the same "am" 7 error.
    ("transfer", "plain http accepted when the release host is https",
     "src/core/transfer/TransferAddress.cpp",
     "if (scheme != \"https\" && !(scheme == \"http\" && allowPlainHttp)) {",
     "if (scheme != \"https\" && scheme != \"http\") {"),
    ("transfer", "disk reserve never counts what was written since it measured",
     "src/core/transfer/DiskReserve.cpp", "    room_ -= bytes;\n", ""),
    # trust
    ("trust", "signature check skipped when the signature is empty",
     "src/core/trust/ReleaseSignature.cpp",
     "        throw badSignature(\"signature missing\");", "        return;"),
    ("trust", "a signed manifest without macsha256 accepted",
     "src/core/ReleaseFetch.cpp", "    Trust::requireSignedChecksum(manifest, keys);\n", ""),
    ("trust", "an unsigned macsize binds the download",
     "src/core/ReleaseFetch.cpp",
     "const std::int64_t sizeLimit = keys.required() ? manifest.size : 0;",
     "const std::int64_t sizeLimit = manifest.size;"),
    ("trust", "upper-case checksums compared as written",
     "src/core/trust/Sha256.cpp", "const std::string expected = lowerCase(expectedHex);",
     "const std::string expected(expectedHex);"),
    ("trust", "base64 decoder lets bytes outside the alphabet through",
     "src/core/trust/Base64.cpp",
     "if (digits.find_first_not_of(Alphabet) != std::string_view::npos) {",
     "if (false) {"),
    ("trust", "the background hasher drops the last partial block",
     "src/core/trust/BackgroundSha256.cpp",
     "    if (!filling_.empty()) {\n        handOver();\n    }\n", ""),
    # unpack
    ("unpack", "a symbolic link may climb one level out (off by one)",
     "src/core/unpack/EntrySafety.cpp", "std::size_t depth = folderDepth;",
     "std::size_t depth = folderDepth + 1;"),
    ("unpack", "a link stored after the entries that pass through it is not refused",
     "src/core/unpack/UnpackPlan.cpp",
     "        for (const PlannedLink& link : links_) {\n"
     "            refuseWhereFolder(link.path, \"symbolic link\");\n        }\n", ""),
    ("unpack", "an entry may inflate past its declared size",
     "src/core/unpack/UnpackFiles.cpp",
     "offset + static_cast<la_int64_t>(size) > file.size", "offset > file.size"),
    ("unpack", "file modes keep set-id bits",
     "src/core/unpack/UnpackPlan.cpp", "archive_entry_perm(entry) & 0777",
     "archive_entry_perm(entry) & 07777"),
    ("unpack", "file modes ignore the umask",
     "src/core/unpack/UnpackFiles.cpp", "::fchmod(out.fd.get(), file.mode & ~job.umask)",
     "::fchmod(out.fd.get(), file.mode)"),
    ("unpack", "folder modes set before the files inside are written",
     "src/core/unpack/Extract.cpp",
     "    Unpack::writeFiles(zip, plan, destination, umask, replacing);\n",
     "    for (std::size_t i = plan.folders.size(); i-- > 0;) {\n"
     "        if (folderModes[i]) {\n"
     "            tree.setFolderMode(plan.folders[i].path, *folderModes[i]);\n"
     "        }\n"
     "    }\n"
     "    Unpack::writeFiles(zip, plan, destination, umask, replacing);\n"),
    # install
    ("install (moving)", "marker written before the swap",
     "src/core/install/StagedInstall.cpp",
     "    FileSystem::writeTextAtomically(layout.pendingRecordPath(), manifest.version);\n",
     "    FileSystem::writeTextAtomically(layout.pendingRecordPath(), manifest.version);\n"
     "    markInstalled(layout, manifest.version);\n"),
    ("install (moving)", "recovery removes the staging folder before the pending record",
     "src/core/install/StagedInstall.cpp",
     "    removeQuietly(layout.pendingRecordPath());\n    // A patch cut short",
     "    discard(layout.stagingDir());\n    removeQuietly(layout.pendingRecordPath());\n"
     "    // A patch cut short"),
    ("install (moving)", "recovery marks the new version while it is still staged",
     "src/core/install/StagedInstall.cpp", "if (pending && !staged && built) {",
     "if (pending && built) {"),
    ("install", "the install lock is not taken",
     "src/core/install/InstallLock.cpp",
     "status = ::flock(lockFile_.get(), LOCK_EX | LOCK_NB);", "status = 0;"),
    ("install", "disk space needed rounded down",
     "src/core/install/DiskSpace.cpp",
     "neededBytes / bytesPerMB + (neededBytes % bytesPerMB != 0)", "neededBytes / bytesPerMB"),
    ("install", "room for the archive ignores what a partial download holds",
     "src/core/ReleaseFetch.cpp",
     "Install::freeBytes(folder) + Transfer::partialBytes(archive)", "Install::freeBytes(folder)"),
    ("install", "a bundle name with a backslash accepted",
     "src/core/install/BundleName.cpp", "name.find_first_of(\"/\\\\\")", "name.find('/')"),
    # the release run
    ("release run (moving)", "recovery only after the up-to-date check",
     "src/core/ReleaseRun.cpp",
     "        if (Install::hasInterruptedUpdate(layout_)) {\n            lockAndRecover();\n        }\n",
     ""),
    ("release run (moving)", "the archive is left behind after installing",
     "src/core/ReleaseRun.cpp",
     "            fs::remove(layout_.archivePath(), ignored);\n        }\n        if (index) {",
     "        }\n        if (index) {"),
    # platform
    ("platform", "a failed atomic write leaves its temporary file",
     "src/platform/FileSystem.cpp", "        ::unlink(temporary.c_str());\n        throw;",
     "        throw;"),
    ("platform", "a relative XDG_DATA_HOME is followed",
     "src/platform/FileSystem.cpp", "xdg && fs::path(*xdg).is_absolute()", "xdg"),
    # cli report
    ("cli report", "--cli prints 100 % at 95 %",
     "src/cli/Report.cpp", "std::trunc(static_cast<double>(done)",
     "std::round(static_cast<double>(done)"),
    ("cli report", "the sha256 line printed without a checksum",
     "src/cli/Report.cpp", "    if (checksumMatched) {\n        line(\"sha256\", \"ok\");",
     "    if (true) {\n        line(\"sha256\", \"ok\");"),
    # ui
    ("ui", "wrong end-state word: an update reads as up to date",
     "src/ui/ReleaseText.cpp", "StateLook{\"UPDATED\", \"   ·   updated\", themeGreen}",
     "StateLook{\"UPDATED\", \"   ·   up to date\", themeGreen}"),
    ("ui", "progress past the end not clamped",
     "src/ui/Views.cpp", "fraction >= 0.0 ? std::fmin(fraction, 1.0) : 0.0",
     "fraction >= 0.0 ? fraction : 0.0"),
    ("ui", "minutes left rounded down",
     "src/ui/DownloadRate.cpp", "const long long minutes = (whole + 30) / 60;",
     "const long long minutes = whole / 60;"),
    # publish tool
    ("publish", "versions compared as text (1.10 before 1.9)",
     "tools/publish/VersionOrder.cpp",
     "        if (const auto order = x.size() <=> y.size(); order != 0) {\n"
     "            return order;\n        }\n", ""),
    ("publish", "keygen overwrites an existing private key",
     "tools/publish/KeyFiles.cpp", "O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC",
     "O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC"),
    # added after the first run
    ("transfer", "a stop request is only looked at before the transfer begins",
     "src/core/transfer/HttpGet.cpp",
     "    for (;;) {\n"
     "        // Checked before each step, so a transfer stopped before it began sends nothing.\n"
     "        if (options.stop.stop_requested()) {\n"
     "            return {CURLE_ABORTED_BY_CALLBACK, StoppedText};\n        }\n",
     "    if (options.stop.stop_requested()) {\n"
     "        return {CURLE_ABORTED_BY_CALLBACK, StoppedText};\n    }\n    for (;;) {\n"),
]


def run(command, cwd, quiet=True, env=None):
    return subprocess.run(command, cwd=cwd, text=True, env=env,
                          stdout=subprocess.PIPE if quiet else None,
                          stderr=subprocess.STDOUT if quiet else None)


def failures(output):
    """The failed tests' names from ctest's summary, at most three, or "?"."""
    names = re.findall(r"^\s*\d+ - (\S+)", output.split("tests FAILED:")[-1], re.M)
    if not names:
        names = re.findall(r"Test\s+#\d+: (\S+) \.*\s*\*\*\*", output)
    return ", ".join(names[:3]) + (" …" if len(names) > 3 else "") if names else "?"


def occurrences(top, fault):
    text = open(os.path.join(top, fault[2]), encoding="utf-8").read()
    return text.count(fault[3])


def check(scratch, build, fault, env):
    area, description, path, before, after = fault
    target = os.path.join(scratch, path)
    original = open(target, encoding="utf-8").read()
    if original.count(before) != 1:
        return "stale", f"text found {original.count(before)} times in {path}"
    try:
        open(target, "w", encoding="utf-8").write(original.replace(before, after))
        built = run(["cmake", "--build", build, "-j", "2"], scratch, env=env)
        if built.returncode != 0:
            return "no build", ""
        # The whole suite, not stopping at the first failure: a stop leaves the tests then
        # running to finish on their own, holding the end-to-end port against the next fault.
        tests = run(["ctest", "--test-dir", build, "--parallel", "2", "--timeout", "120"],
                    scratch, env=env)
        if tests.returncode == 0:
            return "missed", ""
        # A test that fails only now and then would pass a fault off as caught: the failures
        # must repeat before they count.
        again = run(["ctest", "--test-dir", build, "--rerun-failed", "--timeout", "120"],
                    scratch, env=env)
        if again.returncode == 0:
            return "unsure", "failed once, then passed: " + failures(tests.stdout)
        return "caught", failures(tests.stdout)
    finally:
        open(target, "w", encoding="utf-8").write(original)


def read_table(path):
    """Rows of an earlier run's table, by fault text: (result, first failing test)."""
    rows = {}
    for line in open(path, encoding="utf-8"):
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if len(cells) == 5 and cells[0].isdigit():
            rows[cells[2]] = (cells[3], cells[4])
    return rows


def compare(before_path, after_path):
    before, after = read_table(before_path), read_table(after_path)
    print("| # | area | fault | caught before | caught after | failing tests after |")
    print("|---|---|---|---|---|---|")
    for i, (area, description, *_rest) in enumerate(FAULTS, 1):
        was = before.get(description, ("not run", ""))[0]
        now, test = after.get(description, ("not run", ""))
        print(f"| {i} | {area} | {description} | {was} | {now} | {test} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", type=int, nargs="*", help="fault numbers to try (from 1)")
    parser.add_argument("--list", action="store_true", help="print the faults and stop")
    parser.add_argument("--check", action="store_true",
                        help="say whether each fault's text occurs exactly once, and stop")
    parser.add_argument("--port", type=int, default=47615,
                        help="loopback port of the scratch build's end-to-end tests")
    parser.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"),
                        help="merge two earlier tables into one")
    args = parser.parse_args()
    if args.compare:
        compare(*args.compare)
        return 0
    chosen = [(i, f) for i, f in enumerate(FAULTS, 1) if not args.only or i in args.only]
    top = run(["git", "rev-parse", "--show-toplevel"], os.getcwd()).stdout.strip()
    if args.list or args.check:
        stale = 0
        for i, fault in chosen:
            count = occurrences(top, fault) if args.check else 1
            stale += count != 1
            mark = "" if count == 1 else f"  STALE: found {count} times"
            print(f"{i:2}  [{fault[0]}] {fault[1]}  ({fault[2]}){mark}")
        return 1 if stale else 0

    os.nice(10)
    env = dict(os.environ)
    scratch = tempfile.mkdtemp(prefix="am-mutate-")
    build = os.path.join(scratch, "build", "mutate")
    configure = ["cmake", "-S", scratch, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                 "-DASHENMARCH_BUILD_TESTS=ON", f"-DAM_E2E_PORT={args.port}"]
    if shutil.which("ccache"):
        # Paths relative to the scratch folder, so that a later run in another folder hits.
        configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
        env.update(CCACHE_BASEDIR=scratch, CCACHE_NOHASHDIR="true")
    run(["git", "worktree", "add", "--detach", scratch, "HEAD"], top)
    try:
        if run(configure, scratch, env=env).returncode != 0 or \
                run(["cmake", "--build", build, "-j", "2"], scratch, env=env).returncode:
            print("the unchanged tree does not build", file=sys.stderr)
            return 2
        baseline = run(["ctest", "--test-dir", build, "--parallel", "2", "--timeout", "120"],
                       scratch, env=env)
        if baseline.returncode:
            print("the unchanged tree fails its tests:", failures(baseline.stdout),
                  file=sys.stderr)
            return 2
        print("| # | area | fault | result | failing tests |")
        print("|---|---|---|---|---|")
        for i, fault in chosen:
            result, detail = check(scratch, build, fault, env)
            print(f"| {i} | {fault[0]} | {fault[1]} | {result} | {detail} |", flush=True)
    finally:
        run(["git", "worktree", "remove", "--force", scratch], top)
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

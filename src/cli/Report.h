#pragma once

#include "core/ReleaseRun.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace CLI {

// One labelled line as the command-line modes print them: the label left-aligned in 13
// columns, ": ", the value, a line feed.
void printLine(std::ostream& out, std::string_view label, std::string_view value);

// The "   download N%" lines: one each time the tenth of the bytes held changes, the first call
// always printing; nothing while the total is not known.
class DownloadSteps {
public:
    explicit DownloadSteps(std::ostream& out) : out_(out) {}
    void progress(std::int64_t done, std::int64_t total);

private:
    std::ostream& out_;
    long long lastStep_ = -1;
};

// The self-check's line report of one release run. Scripts read it, so every line is fixed to
// the byte: a label left-aligned in 13 columns, ": ", the value, one line feed. The last line is
// "PASS" or one that begins with "FAIL".
class Report final : public Core::RunObserver {
public:
    explicit Report(std::ostream& out) : out_(out), steps_(out) {}

    // 0 after "PASS", 1 before it and after any "FAIL" line.
    int status() const { return status_; }

    void line(std::string_view label, std::string_view value);
    void raw(std::string_view text);

    void manifestRead(const Manifest& manifest) override;
    void manifestAccepted(const Manifest& manifest) override { line("url", manifest.url); }
    // The entry count, then one "   v<version> (<date>)  +P -M *O" line per entry.
    void changelogRead(const Changelog& entries) override;
    void downloadProgress(std::int64_t done, std::int64_t total) override {
        steps_.progress(done, total);
    }
    void downloaded(const Core::Download& fetched, bool checksumMatched) override;
    void staged(const Core::Install::StagedBuild& staged) override;
    void committed(const std::string& installedVersion) override {
        line("installed", installedVersion);
    }
    void reExtracted() override { line("re-extract", "ok"); }
    void finished(const Core::RunResult& result) override;

private:
    std::ostream& out_;
    DownloadSteps steps_;
    int status_ = 1;
};

} // namespace CLI

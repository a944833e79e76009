#include "cli/Report.h"

#include <cmath>
#include <iomanip>

namespace CLI {

void printLine(std::ostream& out, std::string_view label, std::string_view value) {
    out << std::left << std::setw(13) << label << ": " << value << '\n';
}

void DownloadSteps::progress(std::int64_t done, std::int64_t total) {
    if (total < 1) {
        return;
    }
    const double scaled = std::trunc(static_cast<double>(done) / static_cast<double>(total) * 10);
    // A body past its announced length keeps counting (1.25 prints 120), within reason.
    if (scaled > 1e15) {
        return;
    }
    const auto step = static_cast<long long>(scaled);
    if (step == lastStep_) {
        return;
    }
    lastStep_ = step;
    out_ << "   download " << step * 10 << "%\n";
}

void Report::line(std::string_view label, std::string_view value) {
    printLine(out_, label, value);
}

void Report::raw(std::string_view text) {
    out_ << text << '\n';
}

void Report::manifestRead(const Manifest& manifest) {
    line("manifest", "version=" + manifest.version + " size=" + std::to_string(manifest.size) +
                         " exe=" + manifest.exe);
}

void Report::changelogRead(const Changelog& entries) {
    line("changelog", std::to_string(entries.size()) + " entries");
    for (const ChangelogEntry& entry : entries) {
        int added = 0;
        int removed = 0;
        int other = 0;
        for (const ChangelogLine changelogLine : entry.lines) {
            (changelogLine.kind == '+' ? added : changelogLine.kind == '-' ? removed : other)++;
        }
        out_ << "   v" << entry.version << " (" << entry.date << ")  +" << added << " -" << removed
             << " *" << other << '\n';
    }
}

void Report::downloaded(const Core::Download& fetched, bool checksumMatched) {
    line("downloaded", std::to_string(fetched.bytes) + " bytes");
    if (checksumMatched) {
        line("sha256", "ok");
    }
}

void Report::staged(const Core::Install::StagedBuild& staged) {
    line("app exists", staged.hasBundle ? "true" : "false");
    line("binary exists", staged.hasExecutable ? "true" : "false");
}

void Report::finished(const Core::RunResult& result) {
    const std::optional<Error>& error = result.error;
    if (result.outcome == Core::RunOutcome::Installed) {
        raw("PASS");
        status_ = 0;
    } else if (error && error->is(AmCode::NoArchiveAddress)) {
        raw("FAIL: manifest has no version/url");
    } else if (!error || error->is(AmCode::MissingBundle)) {
        // The "app exists" line above says what is missing.
        raw("FAIL");
    } else {
        raw("FAIL: " + error->fullDescription());
    }
}

} // namespace CLI

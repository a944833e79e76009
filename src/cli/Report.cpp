#include "cli/Report.h"

#include <cmath>
#include <iomanip>

namespace CLI {

void Report::line(std::string_view label, std::string_view value) {
    out_ << std::left << std::setw(13) << label << ": " << value << '\n';
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

void Report::downloadProgress(double fraction) {
    // Fractions come from byte counts and are finite; anything else would make the step
    // meaningless, so it is skipped rather than printed.
    const double scaled = std::trunc(fraction * 10);
    if (!std::isfinite(scaled) || std::fabs(scaled) > 1e15) {
        return;
    }
    const auto step = static_cast<long long>(scaled);
    if (step == lastStep_) {
        return;
    }
    lastStep_ = step;
    raw("   download " + std::to_string(step * 10) + "%");
}

void Report::downloaded(std::int64_t bytes, bool checksumMatched) {
    line("downloaded", std::to_string(bytes) + " bytes");
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

#pragma once

#include "formats/Changelog.h"
#include "formats/Manifest.h"

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {

// The self-check's line report. Scripts read it, so every line is fixed to the byte: a label
// left-aligned in 13 columns, ": ", the value, one line feed.
class Report {
public:
    explicit Report(std::ostream& out) : out_(out) {}

    void line(std::string_view label, std::string_view value);
    void flag(std::string_view label, bool value) { line(label, value ? "true" : "false"); }
    void raw(std::string_view text);

    void manifest(const Manifest& manifest);
    // The entry count, then one "   v<version> (<date>)  +P -M *O" line per entry.
    void changelog(const std::vector<ChangelogEntry>& entries);

private:
    std::ostream& out_;
};

// "   download N%" once per tenth reached, the first call always printing.
class ProgressLines {
public:
    explicit ProgressLines(Report& report) : report_(report) {}
    void show(double fraction);

private:
    Report& report_;
    long long lastStep_ = -1;
};

} // namespace CLI

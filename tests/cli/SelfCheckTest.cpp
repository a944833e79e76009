// The self-check's report: each line as scripts read it. Which runs fail, and how, is the release
// run's to prove; the whole self-check runs end to end in SelfCheckProcessTest.

#include "cli/Report.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

namespace {

Core::RunResult failedWith(Error error) {
    return {Core::RunOutcome::Failed, std::nullopt, "", std::move(error)};
}

TEST(SelfCheckReport, EachLineAsScriptsReadIt) {
    const struct {
        const char* name;
        std::function<void(CLI::Report&)> calls;
        std::string lines; // the status is 0 after PASS, else 1
    } rows[] = {
        {"manifest and changelog",
         [](CLI::Report& r) {
             r.line("install root", "/games");
             r.manifestRead(Manifest::parse("version=1.4\nmacsize=9\nmacexe=A.app"));
             r.manifestAccepted(Manifest::parse("macurl=https://h/b.zip"));
             r.changelogRead(parseChangelog("## 1.4 | today\n+ a\n+ b\n- c\nd\n## 1.3\n"));
             r.changelogRead({});
         },
         "install root : /games\nmanifest     : version=1.4 size=9 exe=A.app\n"
         "url          : https://h/b.zip\nchangelog    : 2 entries\n"
         "   v1.4 (today)  +2 -1 *1\n   v1.3 ()  +0 -0 *0\nchangelog    : 0 entries\n"},
        {"progress once per tenth reached, rounded down",
         [](CLI::Report& r) {
             for (const std::int64_t done : {10, 50, 500, 550, 950, 999, 1000}) {
                 r.downloadProgress(done, 1000);
             }
         },
         "   download 0%\n   download 50%\n   download 90%\n   download 100%\n"},
        {"the checksum line only when there was a checksum",
         [](CLI::Report& r) {
             r.downloaded({Core::Download::Kind::Full, 5, 0, 0, {}}, false);
             r.downloaded({Core::Download::Kind::Full, 6, 0, 0, {}}, true);
         },
         "downloaded   : 5 bytes\ndownloaded   : 6 bytes\nsha256       : ok\n"},
        {"installed",
         [](CLI::Report& r) {
             r.staged({true, false});
             r.committed("1.4");
             r.reExtracted();
             r.finished({Core::RunOutcome::Installed, std::nullopt, "1.4", std::nullopt});
         },
         "app exists   : true\nbinary exists: false\ninstalled    : 1.4\n"
         "re-extract   : ok\nPASS\n"},
        {"no version or address",
         [](CLI::Report& r) { r.finished(failedWith(Error::am(AmCode::NoArchiveAddress, "x"))); },
         "FAIL: manifest has no version/url\n"},
        {"no bundle: the lines above say what is missing",
         [](CLI::Report& r) { r.finished(failedWith(Error::am(AmCode::MissingBundle, "x"))); },
         "FAIL\n"},
        {"any other error, rendered whole",
         [](CLI::Report& r) {
             r.finished(failedWith(Error::am(AmCode::BadSignature, "release signature is not valid",
                                             "signature missing")));
         },
         "FAIL: Error Domain=am Code=10 \"release signature is not valid\" (signature missing)\n"},
    };
    for (const auto& row : rows) {
        std::ostringstream out;
        CLI::Report report(out);
        row.calls(report);
        EXPECT_EQ(out.str(), row.lines) << row.name;
        EXPECT_EQ(report.status(), row.lines.ends_with("PASS\n") ? 0 : 1) << row.name;
    }
}

} // namespace

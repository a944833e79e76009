// Text fetches (manifest, signature, changelog) against the loopback server.
#include "core/transfer/Fetch.h"

#include "platform/ReleaseHost.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"

#include <gtest/gtest.h>

namespace {

constexpr std::size_t FourMiB = 4 * 1024 * 1024;
using std::chrono::milliseconds;
using Headers = std::vector<std::pair<std::string, std::string>>;

class Fetch : public ::testing::Test {
protected:
    LoopbackServer server;
    Core::Transfer::TransferOptions options = loopbackTransferOptions();

    std::string fetch(const std::string& path) {
        return Core::Transfer::fetch(server.url(path), options);
    }
};

TEST_F(Fetch, SendsOnlyTheLaunchersHeadersAndTakesTheBodyWhateverTheStatus) {
    const std::string page = "<html><body>Not Found</body></html>";
    server.serve("/missing", page, 404);
    server.serve("/latin1", "caf\xe9 cr\xe8me");
    server.serve("/largest", std::string(FourMiB, 'a'));
    server.serve("/target", "moved here");
    server.redirect("/moved", server.url("/target"), 301);

    EXPECT_EQ(fetch("/missing"), page);
    EXPECT_EQ(fetch("/latin1"), ""); // not UTF-8: no text
    EXPECT_EQ(fetch("/largest").size(), FourMiB);
    EXPECT_EQ(fetch("/moved"), "moved here");
    const std::string host = server.url("").substr(std::string_view("http://").size());
    EXPECT_EQ(server.requests().front().headers, (Headers{{"Cache-Control", "no-cache"},
                                                          {"Host", host},
                                                          {"User-Agent", std::string(UserAgent)}}));
}

TEST_F(Fetch, EndsWithTheReasonTheTransferFailed) {
    options.idleTimeout = milliseconds(300);
    options.lowSpeedWindow = milliseconds(600);
    options.textTimeout = milliseconds(1000);
    const std::string text(20 * 1024, 'a');
    server.serve("/announced", std::string(FourMiB + 1, 'a'));
    server.serveChunked("/unannounced", std::string(FourMiB + 1, 'a'));
    server.serveFile("/falls-silent",
                     {{.body = text, .cutAt = 8, .holdAtCut = std::chrono::seconds(10)}});
    // Never silent for long, but far under 1 KiB/s: 10 bytes a second.
    server.serveFile("/trickle",
                     {{.body = text, .pieceBytes = 1, .piecePause = milliseconds(100)}});
    // 5 KiB/s and a byte every 100 ms: fast enough for every window, but 4 s in all.
    server.serveFile("/steady",
                     {{.body = text, .pieceBytes = 512, .piecePause = milliseconds(100)}});
    server.serveFile("/cut", {{.body = text, .cutAt = 8}});
    const std::pair<const char*, std::string> rows[] = {
        {"/announced", "Error Domain=am Code=12 \"release file too large\""},
        {"/unannounced", "Error Domain=am Code=12 \"release file too large\""},
        {"/falls-silent", "Error Domain=curl Code=28 \"no data received for 300 milliseconds\""},
        {"/trickle",
         "Error Domain=curl Code=28 \"less than 1024 bytes a second over 600 milliseconds\""},
        {"/steady", "Error Domain=curl Code=28 \"not finished within 1000 milliseconds\""},
        {"/cut", "Error Domain=curl Code=18 "}, // CURLE_PARTIAL_FILE, curl's own text
    };
    for (const auto& [path, error] : rows) {
        const std::string seen = errorOf([&] { fetch(path); }).fullDescription();
        EXPECT_TRUE(seen.starts_with(error)) << path << ": " << seen;
    }
}

} // namespace

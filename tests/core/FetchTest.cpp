#include "core/transfer/Fetch.h"

#include "platform/ReleaseHost.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"

#include <gtest/gtest.h>

#include <set>
#include <stop_token>

namespace {

constexpr std::size_t FourMiB = 4 * 1024 * 1024;

class FetchTest : public ::testing::Test {
protected:
    LoopbackServer server;
    Core::Transfer::TransferOptions options = loopbackTransferOptions();
};

TEST_F(FetchTest, SendsOnlyTheLaunchersHeaders) {
    server.serve("/latest.txt", "version=1.2\n");

    EXPECT_EQ(Core::Transfer::fetch(server.url("/latest.txt"), options), "version=1.2\n");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].method, "GET");
    std::set<std::string> names;
    for (const auto& [name, value] : requests[0].headers) {
        names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"Cache-Control", "Host", "User-Agent"}));
    EXPECT_EQ(requests[0].header("User-Agent"), std::string(UserAgent));
    EXPECT_EQ(requests[0].header("Cache-Control"), "no-cache");
}

TEST_F(FetchTest, ReturnsTheBodyWhateverTheStatus) {
    const std::string page = "<html><body>Not Found</body></html>";
    const std::string notUtf8 = "caf\xe9 cr\xe8me";
    const std::string largest(FourMiB, 'a');
    server.serve("/missing", page, 404, "text/html");
    server.serve("/empty", "");
    server.serve("/latin1", notUtf8);
    server.serveChunked("/chunked", "line one\r\nline two\n");
    server.serve("/largest", largest);
    server.serve("/target", "moved here");
    server.redirect("/moved", "/target");
    server.redirect("/moved-twice", server.url("/moved"), 301);

    const struct {
        const char* path;
        std::string expected;
    } cases[] = {
        {"/missing", page},
        {"/empty", ""},
        {"/latin1", ""},
        {"/chunked", "line one\r\nline two\n"},
        {"/largest", largest},
        {"/moved", "moved here"},
        {"/moved-twice", "moved here"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(Core::Transfer::fetch(server.url(c.path), options), c.expected);
    }
}

TEST_F(FetchTest, RefusesAddressesBeforeSendingAnything) {
    Core::Transfer::TransferOptions httpsOnly = options;
    httpsOnly.allowPlainHttp = false;
    const std::string ftp = "ftp://127.0.0.1:" + std::to_string(server.port()) + "/latest.txt";

    const struct {
        std::string address;
        const Core::Transfer::TransferOptions& options;
        AmCode code;
    } cases[] = {
        {"", options, AmCode::BadAddress},
        {"not an address", options, AmCode::BadAddress},
        {"http://", options, AmCode::BadAddress},
        {"http://127.0.0.1:99999/latest.txt", options, AmCode::BadAddress},
        {"file:///etc/hostname", options, AmCode::UnsupportedAddress},
        {ftp, options, AmCode::UnsupportedAddress},
        {server.url("/latest.txt"), httpsOnly, AmCode::UnsupportedAddress},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        const Error error = errorOf([&] { Core::Transfer::fetch(c.address, c.options); });
        EXPECT_TRUE(error.is(c.code)) << error.fullDescription();
        if (c.code == AmCode::BadAddress) {
            EXPECT_FALSE(error.message());
        } else {
            EXPECT_EQ(error.message(), "unsupported address: " + c.address);
        }
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(FetchTest, StopsPastFourMebibytes) {
    server.serve("/announced", std::string(FourMiB + 1, 'a'));
    server.serveChunked("/unannounced", std::string(FourMiB + 1, 'a'));

    for (const char* path : {"/announced", "/unannounced"}) {
        SCOPED_TRACE(path);
        const Error error = errorOf([&] { Core::Transfer::fetch(server.url(path), options); });
        EXPECT_TRUE(error.is(AmCode::ReleaseFileTooLarge)) << error.fullDescription();
        EXPECT_EQ(error.message(), "release file too large");
    }
}

TEST_F(FetchTest, TransportFailuresKeepCurlsCodeAndText) {
    using std::chrono::milliseconds;
    options.idleTimeout = milliseconds(300);
    options.lowSpeedWindow = milliseconds(600);
    options.textTimeout = milliseconds(1000);
    const std::string text(20 * 1024, 'a');
    server.stall("/silent", std::chrono::seconds(10));
    server.serveFile(
        "/slow-body",
        {{.body = "version=2.0\n", .cutAt = 8, .holdAtCut = std::chrono::seconds(10)}});
    // Never silent for long, but far under 1 KiB/s: 10 bytes a second.
    server.serveFile(
        "/trickle",
        {{.body = text.substr(0, 40), .pieceBytes = 1, .piecePause = milliseconds(100)}});
    // 5 KiB/s: fast enough for every window, but 4 s in all.
    server.serveFile("/steady",
                     {{.body = text, .pieceBytes = 512, .piecePause = milliseconds(100)}});
    server.serveFile("/cut", {{.body = "version=2.0\n", .cutAt = 8}});
    server.redirect("/loop", "/loop");

    const struct {
        const char* path;
        int curlCode;
        std::string text; // empty: curl's own text
    } cases[] = {
        {"/silent", 28, "no data received for 300 milliseconds"}, // CURLE_OPERATION_TIMEDOUT
        {"/slow-body", 28, "no data received for 300 milliseconds"},
        {"/trickle", 28, "less than 1024 bytes a second over 600 milliseconds"},
        {"/steady", 28, "not finished within 1000 milliseconds"},
        {"/cut", 18, ""},  // CURLE_PARTIAL_FILE
        {"/loop", 47, ""}, // CURLE_TOO_MANY_REDIRECTS
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const Error error = errorOf([&] { Core::Transfer::fetch(server.url(c.path), options); });
        EXPECT_EQ(error.domain(), "curl");
        EXPECT_EQ(error.code(), c.curlCode);
        EXPECT_FALSE(error.message().value_or("").empty());
        if (!c.text.empty()) {
            EXPECT_EQ(error.message(), c.text);
        }
    }
}

// A stop request meeting a running transfer is proven with the file download, which shares it.
TEST_F(FetchTest, OnceStoppedNothingIsSent) {
    std::stop_source stop;
    stop.request_stop();
    options.stop = stop.get_token();

    const Error error = errorOf([&] { Core::Transfer::fetch(server.url("/latest.txt"), options); });
    EXPECT_EQ(error.domain(), "curl");
    EXPECT_EQ(error.code(), 42); // CURLE_ABORTED_BY_CALLBACK
    EXPECT_TRUE(server.requests().empty());
}

} // namespace

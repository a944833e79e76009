// The archive's download: failures that keep the earlier file, checksums, retries, resumption
// from held bytes and stopping, against the loopback server.
#include "core/transfer/FileDownloader.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"
#include "support/PatchRelease.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Ranges = std::vector<std::optional<std::string>>;
using Names = std::vector<std::string>;

namespace {

class Download : public ::testing::Test {
protected:
    Download() { options.retryDelays = {milliseconds(10), milliseconds(10), milliseconds(10)}; }

    void download(const Core::Transfer::DownloadCheck& check = {}, const char* path = "/b.zip") {
        fractions.clear();
        requestsBefore = server.requests().size();
        const auto progress = [this](double fraction) {
            fractions.push_back(fraction);
            if (fraction == 1.0 && stopAtTheLastByte) {
                throw Error("test", 1, "stopped at the last byte");
            }
        };
        syncDownload(server.url(path), destination, progress, options, check);
    }

    // The Range header of each request since the last download began.
    Ranges rangesAsked() const {
        Ranges ranges;
        const auto requests = server.requests();
        for (std::size_t i = requestsBefore; i < requests.size(); ++i) {
            ranges.push_back(requests[i].header("Range"));
        }
        return ranges;
    }

    // The names in the folder: a download leaves "update.zip" and, only when it may be
    // continued, the partial file and its record.
    Names leftInFolder() const {
        Names names;
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    const Names onlyTheFile{"update.zip"};
    const Names held{"update.zip.part", "update.zip.part.meta"};
    const Names fileAndHeld{"update.zip", held[0], held[1]};

    LoopbackServer server;
    TempDir folder;
    fs::path destination = folder / "update.zip";
    Core::Transfer::TransferOptions options = loopbackTransferOptions();
    std::vector<double> fractions;
    std::size_t requestsBefore = 0;
    bool stopAtTheLastByte = false;

    const std::string body = noise(1024 * 1024 + 17, 7);
    const std::size_t cut = body.size() * 3 / 10;
};

TEST_F(Download, AFailedDownloadKeepsTheEarlierFileAndOnlyBytesWorthContinuing) {
    server.serve("/404.zip", "<html>Not Found</html>", 404);
    server.serveFile("/huge.zip", {{.body = "PK", .announcedLength = std::size_t{1} << 60}});
    server.serve("/b.zip", body);
    const std::string other(64, 'a');
    std::string upper = sha256Of(body);
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    const std::string mismatch = "Error Domain=am Code=6 \"download checksum mismatch\" (";
    // path, checksum, error ("": none); only the file is left in the folder
    const std::tuple<const char*, std::string, std::string> rows[] = {
        {"/404.zip", "", "Error Domain=am Code=5 \"download failed with HTTP status 404\""},
        {"/huge.zip", "", "Error Domain=am Code=9 \"not enough disk space: "},
        {"/b.zip", other, mismatch + "expected " + other + ", got " + sha256Of(body) + ")"},
        // Fails before anything is sent.
        {"/b.zip", std::string(64, 'g'), mismatch + "macsha256 is not 64 hex digits)"},
        {"/b.zip", sha256Of(body), ""},
        {"/b.zip", upper, ""},
    };
    options.retryDelays.clear();
    for (const auto& [path, sha256, error] : rows) {
        SCOPED_TRACE(path + (" " + sha256));
        writeFile(destination, "earlier archive");
        if (error.empty()) {
            download({sha256, 0}, path);
        } else {
            const std::string seen = errorOf([&] {
                                         download({sha256, 0}, path);
                                     }).fullDescription();
            EXPECT_TRUE(seen.starts_with(error)) << seen;
        }
        EXPECT_EQ(readFile(destination), error.empty() ? body : "earlier archive");
        EXPECT_EQ(leftInFolder(), onlyTheFile);
    }
    EXPECT_EQ(server.requestsFor("/b.zip"), 3);
}

// Rows as the server answers each request: what the download ends with (the body, or the
// error's message) and the Range header of each request.
TEST_F(Download, TransientFailuresAreRetriedAndCutBodiesContinuedAsTheServerAllows) {
    const std::string changed = noise(body.size() + 5000, 11);
    const std::optional<std::string> none, range = "bytes=" + std::to_string(cut) + "-";
    const FileAnswer first{.body = body, .etag = "\"v1\"", .cutAt = cut};
    const FileAnswer whole{.body = body, .etag = "\"v1\""};
    const FileAnswer unavailable{.status = 503};
    // Under 1 KiB/s but never silent for the idle time-out: a stall all the same.
    options.lowSpeedWindow = milliseconds(500);
    const FileAnswer trickle{.body = "tiny", .pieceBytes = 1, .piecePause = milliseconds(300)};
    const std::string status = "download failed with HTTP status ";
    const std::tuple<const char*, std::vector<FileAnswer>, std::string, Ranges> rows[] = {
        {"continued", {first, whole}, body, {none, range}},
        {"server ignores ranges",
         {first, {.body = body, .etag = "\"v1\"", .honourRange = false}},
         body,
         {none, range}},
        {"file changed in between",
         {first, {.body = changed, .etag = "\"v2\""}},
         changed,
         {none, range}},
        {"answer for another range",
         {first, {.body = body, .etag = "\"v1\"", .misplacedRange = true, .cutAt = 1}, whole},
         body,
         {none, range, none}},
        {"no validator", {{.body = body, .cutAt = cut}, {.body = body}}, body, {none, none}},
        {"503 twice, then the file", {unavailable, unavailable, whole}, body, {none, none, none}},
        {"503 every time", {unavailable}, status + "503", {none, none, none, none}},
        {"too slow, then the file", {trickle, whole}, body, {none, none}},
        {"404", {{.status = 404}, whole}, status + "404", {none}},
    };
    for (const auto& [name, answers, result, ranges] : rows) {
        SCOPED_TRACE(name);
        server.serveFile("/b.zip", answers);
        if (result.starts_with(status)) {
            EXPECT_EQ(errorOf([&] { download(); }).message(), result);
        } else {
            download({sha256Of(result), 0});
            EXPECT_EQ(readFile(destination), result);
            EXPECT_EQ(fractions.back(), 1.0);
        }
        EXPECT_EQ(rangesAsked(), ranges);
        EXPECT_EQ(leftInFolder(), onlyTheFile);
    }
}

// A stop request ends a transfer in progress at once, and the wait before a retry too; what
// was held stays for the next download, which goes on from there.
TEST_F(Download, AStopRequestEndsTheDownloadAtOnceAndTheNextOneContinues) {
    const std::size_t half = body.size() / 2;
    server.serveFile(
        "/b.zip",
        {{.body = body, .etag = "\"v1\"", .cutAt = half, .holdAtCut = std::chrono::seconds(30)},
         {.body = body, .etag = "\"v1\""}});
    options.idleTimeout = std::chrono::seconds(20);
    std::stop_source stop;
    options.stop = stop.get_token();
    std::jthread stopper([&] {
        std::error_code none;
        for (int i = 0; i < 2000 && fs::file_size(folder / held[0], none) != half; ++i) {
            std::this_thread::sleep_for(milliseconds(5));
        }
        stop.request_stop();
    });
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(errorOf([&] { download(); }).fullDescription(),
              "Error Domain=curl Code=42 \"transfer stopped\"");
    // Far less than the idle time-out, which would otherwise end it.
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
    EXPECT_EQ(leftInFolder(), held);

    options.stop = {};
    download({sha256Of(body), static_cast<std::int64_t>(body.size())});
    EXPECT_EQ(readFile(destination), body);
    EXPECT_EQ(rangesAsked(), (Ranges{"bytes=" + std::to_string(half) + "-"}));
    EXPECT_EQ(server.requests().back().header("If-Range"), "\"v1\"");
    EXPECT_GT(fractions.front(), 0.5); // on from the held half, not from 0

    server.serveFile("/b.zip", {{.status = 503}});
    std::stop_source beforeRetry;
    options.stop = beforeRetry.get_token();
    options.retryDelays = {std::chrono::minutes(10)};
    options.onRetry = [&](int, int) {
        beforeRetry.request_stop();
    };
    EXPECT_EQ(errorOf([&] { download(); }).code(), 42);
    EXPECT_EQ(rangesAsked().size(), 1u);
}

// Held bytes go when they cannot serve the next download; a whole body held is fetched again.
TEST_F(Download, HeldBytesAreDroppedWhenTheyCannotServeTheNextDownload) {
    const std::string other = noise(body.size() / 2, 13);
    server.serveFile("/other.zip", {{.body = other, .etag = "\"v9\""}});
    options.retryDelays.clear();
    const auto interrupted = [&] {
        server.serveFile("/b.zip", {{.body = body, .etag = "\"v1\"", .cutAt = cut}});
        errorOf([&] { download(); });
        ASSERT_EQ(leftInFolder(), fileAndHeld);
    };
    writeFile(destination, "earlier archive");

    interrupted(); // another address: its own body from the start
    download({}, "/other.zip");
    EXPECT_EQ(rangesAsked(), Ranges{std::nullopt});
    EXPECT_EQ(readFile(destination), other);

    interrupted(); // the held bytes and the rest fail the checksum: all of them go
    server.serveFile("/b.zip", {{.body = other, .etag = "\"v1\""}});
    EXPECT_TRUE(errorOf([&] { download({sha256Of(body), 0}); }).is(AmCode::ChecksumMismatch));
    EXPECT_EQ(leftInFolder(), onlyTheFile);
    EXPECT_EQ(readFile(destination), other);

    // The whole body held but the download ended before moving it into place: fetched again.
    server.serveFile("/b.zip", {{.body = body, .etag = "\"v1\""}});
    stopAtTheLastByte = true;
    errorOf([&] { download(); });
    stopAtTheLastByte = false;
    ASSERT_EQ(leftInFolder(), fileAndHeld);
    download({sha256Of(body), 0});
    EXPECT_EQ(readFile(destination), body);
    EXPECT_EQ(rangesAsked(), (Ranges{"bytes=" + std::to_string(body.size()) + "-", std::nullopt}));
}

} // namespace

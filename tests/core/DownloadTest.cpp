// The archive's download: progress, failures that keep the earlier file, checksums, retries,
// resumption from held bytes and stopping, against the loopback server.
#include "core/transfer/ContentRange.h"
#include "core/transfer/FileDownloader.h"
#include "core/trust/Sha256.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Ranges = std::vector<std::optional<std::string>>;

namespace {

std::string bodyOf(std::size_t length, unsigned seed = 7) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>(i * seed % 253);
    }
    return bytes;
}

std::string sha256Of(std::string_view bytes) {
    Core::Trust::Sha256 hash;
    hash.update(bytes);
    return hash.hexDigest();
}

class Download : public ::testing::Test {
protected:
    Download() {
        options.retryDelays = {milliseconds(10), milliseconds(10), milliseconds(10)};
        options.onRetry = [this](int, int) {
            ++retries;
        };
    }

    void download(const Core::Transfer::DownloadCheck& check = {}, const char* path = "/b.zip") {
        fractions.clear();
        retries = 0;
        requestsBefore = server.requests().size();
        syncDownload(
            server.url(path), destination, [this](double f) { fractions.push_back(f); }, options,
            check);
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
    std::vector<std::string> leftInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    const std::vector<std::string> onlyTheFile{"update.zip"};
    const std::vector<std::string> held{"update.zip.part", "update.zip.part.meta"};

    LoopbackServer server;
    TempDir folder;
    fs::path destination = folder / "update.zip";
    Core::Transfer::TransferOptions options = loopbackTransferOptions();
    std::vector<double> fractions;
    int retries = 0;
    std::size_t requestsBefore = 0;

    const std::string body = bodyOf(1024 * 1024 + 17);
    const std::size_t cut = body.size() * 3 / 10;
};

TEST_F(Download, ProgressRisesToOneOnlyWhenTheLengthIsKnown) {
    server.serve("/b.zip", body);
    download();
    EXPECT_EQ(readFile(destination), body);
    ASSERT_GE(fractions.size(), 2u);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_GT(fractions.front(), 0.0);
    EXPECT_EQ(fractions.back(), 1.0);

    for (const std::string& chunked : {body, std::string()}) {
        server.serveChunked("/b.zip", chunked);
        download();
        EXPECT_TRUE(fractions.empty());
        EXPECT_EQ(readFile(destination), chunked);
    }

    // Whatever stands where the archive and its partial file go is replaced.
    fs::remove(destination);
    writeFile(destination / "inner/file", "an old folder");
    writeFile(folder / "update.zip.part/inner", "not a partial file");
    download();
    EXPECT_EQ(leftInFolder(), onlyTheFile);
}

TEST_F(Download, AFailedDownloadKeepsTheEarlierFileAndOnlyBytesWorthContinuing) {
    server.serve("/404.zip", "<html>Not Found</html>", 404);
    server.serveFile("/cut.zip", {{.body = body, .etag = "\"v1\"", .cutAt = cut}});
    server.serveFile("/silent.zip",
                     {{.body = body, .cutAt = 10, .holdAtCut = std::chrono::seconds(10)}});
    server.redirect("/to-file.zip", "file:///etc/hostname");
    server.serveFile("/huge.zip", {{.body = "PK", .announcedLength = std::size_t{1} << 60}});
    server.serve("/b.zip", body);
    const std::string other(64, 'a');
    std::string upper = sha256Of(body);
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    const struct {
        const char* path;
        std::string sha256;
        std::string error; // empty: succeeds
        std::vector<std::string> left;
    } rows[] = {
        {"/404.zip", "", "Error Domain=am Code=5 \"download failed with HTTP status 404\"",
         onlyTheFile},
        {"/cut.zip", "", "Error Domain=curl Code=18", {"update.zip", held[0], held[1]}},
        {"/silent.zip", "", "Error Domain=curl Code=28", onlyTheFile},
        {"/to-file.zip", "", "Error Domain=am Code=7 \"unsupported address: file:///etc/hostname\"",
         onlyTheFile},
        {"/huge.zip", "", "Error Domain=am Code=9 \"not enough disk space: ", onlyTheFile},
        {"/b.zip", other,
         "Error Domain=am Code=6 \"download checksum mismatch\" (expected " + other + ", got " +
             sha256Of(body) + ")",
         onlyTheFile},
        {"/b.zip", std::string(64, 'g'),
         "Error Domain=am Code=6 \"download checksum mismatch\" (macsha256 is not 64 hex digits)",
         onlyTheFile},
        {"/b.zip", sha256Of(body), "", onlyTheFile},
        {"/b.zip", upper, "", onlyTheFile},
    };
    options.retryDelays.clear();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path + (" " + row.sha256));
        fs::remove_all(folder / "update.zip.part");
        fs::remove_all(folder / "update.zip.part.meta");
        writeFile(destination, "earlier archive");
        if (row.error.empty()) {
            download({row.sha256, 0}, row.path);
            EXPECT_EQ(readFile(destination), body);
        } else {
            const Error error = errorOf([&] { download({row.sha256, 0}, row.path); });
            EXPECT_TRUE(error.fullDescription().starts_with(row.error)) << error.fullDescription();
            EXPECT_EQ(readFile(destination), "earlier archive");
        }
        EXPECT_EQ(leftInFolder(), row.left);
    }
    // A checksum that cannot match anything fails before anything is sent; so does a missing
    // folder.
    EXPECT_EQ(server.requestsFor("/b.zip"), 3);
    const Error error = errorOf(
        [&] { syncDownload(server.url("/b.zip"), folder / "absent/update.zip", {}, options); });
    EXPECT_EQ(error.code(), ENOENT);
    EXPECT_EQ(server.requestsFor("/b.zip"), 3);
}

TEST_F(Download, ABodyCutShortIsContinuedOrRestartedAsTheServerAllows) {
    const std::string changed = bodyOf(body.size() + 5000, 11);
    const std::string range = "bytes=" + std::to_string(cut) + "-";
    const FileAnswer first{.body = body, .etag = "\"v1\"", .cutAt = cut};
    const FileAnswer whole{.body = body, .etag = "\"v1\""};
    const struct {
        const char* name;
        std::vector<FileAnswer> answers;
        std::string result;
        Ranges ranges;
        std::size_t bytesSent;
    } rows[] = {
        {"continued", {first, whole}, body, {std::nullopt, range}, body.size()},
        {"server ignores ranges",
         {first, {.body = body, .etag = "\"v1\"", .honourRange = false}},
         body,
         {std::nullopt, range},
         cut + body.size()},
        {"file changed in between",
         {first, {.body = changed, .etag = "\"v2\""}},
         changed,
         {std::nullopt, range},
         cut + changed.size()},
        {"answer for another range",
         {first, {.body = body, .etag = "\"v1\"", .misplacedRange = true, .cutAt = 1}, whole},
         body,
         {std::nullopt, range, std::nullopt},
         cut + 1 + body.size()},
        {"no validator",
         {{.body = body, .cutAt = cut}, {.body = body}},
         body,
         {std::nullopt, std::nullopt},
         cut + body.size()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        server.serveFile("/b.zip", row.answers);
        const std::int64_t sentBefore = server.bytesSent("/b.zip");
        download({sha256Of(row.result), 0});
        EXPECT_EQ(readFile(destination), row.result);
        EXPECT_EQ(rangesAsked(), row.ranges);
        EXPECT_EQ(server.bytesSent("/b.zip") - sentBefore,
                  static_cast<std::int64_t>(row.bytesSent));
        EXPECT_EQ(retries, 1);
        EXPECT_EQ(fractions.back(), 1.0);
        EXPECT_EQ(leftInFolder(), onlyTheFile);
    }
}

TEST_F(Download, OnlyTransientFailuresAreRetried) {
    const FileAnswer unavailable{.status = 503};
    // Under 1 KiB/s but never silent for the idle time-out: a stall all the same.
    options.lowSpeedWindow = milliseconds(500);
    const FileAnswer trickle{.body = "tiny", .pieceBytes = 1, .piecePause = milliseconds(300)};
    const struct {
        const char* name;
        std::vector<FileAnswer> answers;
        int status; // 0: the download succeeds
        int requests;
    } rows[] = {
        {"503 twice, then the file", {unavailable, unavailable, {.body = body}}, 0, 3},
        {"503 every time", {unavailable}, 503, 4},
        {"too slow, then the file", {trickle, {.body = body}}, 0, 2},
        {"404", {{.status = 404}, {.body = body}}, 404, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        server.serveFile("/b.zip", row.answers);
        if (row.status == 0) {
            download();
            EXPECT_EQ(readFile(destination), body);
        } else {
            EXPECT_EQ(errorOf([&] { download(); }).message(),
                      "download failed with HTTP status " + std::to_string(row.status));
        }
        EXPECT_EQ(static_cast<int>(rangesAsked().size()), row.requests);
        EXPECT_EQ(retries, row.requests - 1);
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
        for (int i = 0; i < 2000 && fs::file_size(folder / "update.zip.part", none) != half; ++i) {
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

TEST_F(Download, HeldBytesAreDroppedWhenTheyCannotServeTheNextDownload) {
    const std::string other = bodyOf(body.size() / 2, 13);
    server.serveFile("/other.zip", {{.body = other, .etag = "\"v9\""}});
    options.retryDelays.clear();
    const auto interrupted = [&] {
        server.serveFile("/b.zip", {{.body = body, .etag = "\"v1\"", .cutAt = cut}});
        errorOf([&] { download(); });
        ASSERT_EQ(leftInFolder(), (std::vector<std::string>{"update.zip", held[0], held[1]}));
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
}

TEST_F(Download, ACompleteButUnfinishedFileIsFetchedAgain) {
    server.serveFile("/b.zip", {{.body = body, .etag = "\"v1\""}});
    // The whole body arrives but the download ends before it is moved into place.
    errorOf([&] {
        syncDownload(
            server.url("/b.zip"), destination,
            [](double fraction) {
                if (fraction == 1.0) {
                    throw Error("test", 1, "stopped at the last byte");
                }
            },
            options);
    });
    ASSERT_EQ(leftInFolder(), held);
    download({sha256Of(body), 0});
    EXPECT_EQ(readFile(destination), body);
    EXPECT_EQ(rangesAsked(), (Ranges{"bytes=" + std::to_string(body.size()) + "-", std::nullopt}));
}

TEST(ContentRange, AcceptsOnlyACompleteRangeWithinItsTotal) {
    using Range = std::optional<std::tuple<std::int64_t, std::int64_t, std::int64_t>>;
    const std::pair<std::string, Range> rows[] = {
        {"bytes 300-999/1000", std::tuple{300, 999, 1000}},
        {"bytes 300-999/*", std::nullopt},
        {"bytes */1000", std::nullopt},
        {"bytes 10-9/1000", std::nullopt},
        {"bytes 0-1000/1000", std::nullopt},
        {"bytes -1-9/10", std::nullopt},
        {"bytes 0-9/10 ", std::nullopt},
        {"items 0-9/10", std::nullopt},
    };
    for (const auto& [text, expected] : rows) {
        const auto parsed = Core::Transfer::parseContentRange(text);
        EXPECT_EQ(parsed ? Range(std::tuple(parsed->first, parsed->last, parsed->total))
                         : std::nullopt,
                  expected)
            << text;
    }
}

} // namespace

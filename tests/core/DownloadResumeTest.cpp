#include "core/transfer/ContentRange.h"
#include "core/transfer/FileDownloader.h"
#include "core/trust/Sha256.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

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

class DownloadResume : public ::testing::Test {
protected:
    DownloadResume() {
        options.retryDelays = {milliseconds(10), milliseconds(10), milliseconds(10)};
        options.onRetry = [this](int attempt, int attempts) {
            retries.emplace_back(attempt, attempts);
        };
    }

    void download(const Core::Transfer::DownloadCheck& check = {}) {
        syncDownload(
            server.url("/build.zip"), destination,
            [this](double fraction) { fractions.push_back(fraction); }, options, check);
    }

    std::vector<std::optional<std::string>> rangesAsked() const {
        std::vector<std::optional<std::string>> ranges;
        for (const RecordedRequest& request : server.requests()) {
            ranges.push_back(request.header("Range"));
        }
        return ranges;
    }

    bool partialKept() const {
        return fs::exists(folder / "update.zip.part") &&
               fs::exists(folder / "update.zip.part.meta");
    }

    LoopbackServer server;
    TempDir folder;
    fs::path destination = folder / "update.zip";
    Core::Transfer::TransferOptions options = loopbackTransferOptions();
    std::vector<std::pair<int, int>> retries;
    std::vector<double> fractions;

    const std::string body = bodyOf(1024 * 1024);
    const std::size_t cut = body.size() * 3 / 10;
};

TEST_F(DownloadResume, ABodyCutShortIsContinuedOrRestartedAsTheServerAllows) {
    const std::string changed = bodyOf(body.size() + 5000, 11);
    const std::string range = "bytes=" + std::to_string(cut) + "-";
    const struct {
        const char* name;
        std::vector<FileAnswer> answers;
        std::string result;
        std::vector<std::optional<std::string>> ranges;
        std::size_t bytesSent;
    } cases[] = {
        {"continued",
         {{.body = body, .etag = "\"v1\"", .cutAt = cut}, {.body = body, .etag = "\"v1\""}},
         body,
         {std::nullopt, range},
         body.size()},
        {"server ignores ranges",
         {{.body = body, .etag = "\"v1\"", .honourRange = false, .cutAt = cut},
          {.body = body, .etag = "\"v1\"", .honourRange = false}},
         body,
         {std::nullopt, range},
         cut + body.size()},
        {"file changed in between",
         {{.body = body, .etag = "\"v1\"", .cutAt = cut}, {.body = changed, .etag = "\"v2\""}},
         changed,
         {std::nullopt, range},
         cut + changed.size()},
        {"answer for another range",
         {{.body = body, .etag = "\"v1\"", .cutAt = cut},
          {.body = body, .etag = "\"v1\"", .misplacedRange = true, .cutAt = 1},
          {.body = body, .etag = "\"v1\""}},
         body,
         {std::nullopt, range, std::nullopt},
         cut + 1 + body.size()},
        {"no validator",
         {{.body = body, .cutAt = cut}, {.body = body}},
         body,
         {std::nullopt, std::nullopt},
         cut + body.size()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.serveFile("/build.zip", c.answers);
        retries.clear();
        fractions.clear();
        const std::size_t requestsBefore = server.requests().size();
        const std::int64_t sentBefore = server.fileBytesSent();

        download({sha256Of(c.result), 0});

        EXPECT_EQ(readFile(destination), c.result);
        auto ranges = rangesAsked();
        ranges.erase(ranges.begin(), ranges.begin() + static_cast<std::ptrdiff_t>(requestsBefore));
        EXPECT_EQ(ranges, c.ranges);
        EXPECT_EQ(server.fileBytesSent() - sentBefore, static_cast<std::int64_t>(c.bytesSent));
        EXPECT_EQ(retries, (std::vector<std::pair<int, int>>{{2, 4}}));
        EXPECT_FALSE(fs::exists(folder / "update.zip.part"));
        EXPECT_FALSE(fs::exists(folder / "update.zip.part.meta"));
        ASSERT_FALSE(fractions.empty());
        EXPECT_EQ(fractions.back(), 1.0);
    }
}

TEST_F(DownloadResume, OnlyTransientFailuresAreRetried) {
    const FileAnswer unavailable{.status = 503};
    // Under 1 KiB/s but never silent for the idle time-out: a stall all the same.
    options.lowSpeedWindow = milliseconds(500);
    const FileAnswer trickle{.body = "tiny", .pieceBytes = 1, .piecePause = milliseconds(300)};
    const struct {
        const char* name;
        std::vector<FileAnswer> answers;
        std::optional<std::string> message; // nothing: the download succeeds
        std::size_t requests;
    } cases[] = {
        {"503 twice, then the file", {unavailable, unavailable, {.body = body}}, std::nullopt, 3},
        {"503 every time", {unavailable}, "download failed with HTTP status 503", 4},
        {"too slow, then the file", {trickle, {.body = body}}, std::nullopt, 2},
        {"404", {{.status = 404}}, "download failed with HTTP status 404", 1},
        {"403", {{.status = 403}, {.body = body}}, "download failed with HTTP status 403", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.serveFile("/build.zip", c.answers);
        retries.clear();
        const std::size_t before = server.requests().size();
        if (!c.message) {
            download();
            EXPECT_EQ(readFile(destination), body);
        } else {
            const Error error = errorOf([&] { download(); });
            EXPECT_TRUE(error.is(AmCode::HttpStatus)) << error.fullDescription();
            EXPECT_EQ(error.message(), c.message);
        }
        EXPECT_EQ(server.requests().size() - before, c.requests);
        EXPECT_EQ(retries.size(), c.requests - 1);
        fs::remove(destination);
    }
}

TEST_F(DownloadResume, AStopRequestEndsTheWaitBeforeARetry) {
    server.serveFile("/build.zip", {{.status = 503}});
    std::stop_source stop;
    options.stop = stop.get_token();
    options.retryDelays = {std::chrono::minutes(10)};
    options.onRetry = [&stop](int, int) {
        stop.request_stop();
    };

    const Error error = errorOf([&] { download(); });
    EXPECT_EQ(error.domain(), "curl");
    EXPECT_EQ(error.code(), 42); // CURLE_ABORTED_BY_CALLBACK
    EXPECT_EQ(server.requests().size(), 1U);
}

TEST_F(DownloadResume, ALaterDownloadContinuesWhereAStoppedOneEnded) {
    // The server falls silent half-way, so the stop request meets a transfer still running.
    server.serveFile("/build.zip", {{.body = body,
                                     .etag = "\"v1\"",
                                     .cutAt = body.size() / 2,
                                     .holdAtCut = std::chrono::seconds(10)},
                                    {.body = body, .etag = "\"v1\""}});
    std::stop_source stop;
    Core::Transfer::TransferOptions first = options;
    first.stop = stop.get_token();
    const Error error = errorOf([&] {
        syncDownload(
            server.url("/build.zip"), destination,
            [&stop](double fraction) {
                if (fraction >= 0.5) {
                    stop.request_stop();
                }
            },
            first);
    });
    EXPECT_EQ(error.code(), 42);
    ASSERT_TRUE(partialKept());
    const std::int64_t held = static_cast<std::int64_t>(fs::file_size(folder / "update.zip.part"));
    EXPECT_EQ(held, static_cast<std::int64_t>(body.size() / 2));

    const std::int64_t sentBefore = server.fileBytesSent();
    download({sha256Of(body), static_cast<std::int64_t>(body.size())});

    EXPECT_EQ(readFile(destination), body);
    EXPECT_EQ(server.requests().back().header("Range"), "bytes=" + std::to_string(held) + "-");
    EXPECT_EQ(server.requests().back().header("If-Range"), "\"v1\"");
    EXPECT_EQ(server.fileBytesSent() - sentBefore, static_cast<std::int64_t>(body.size()) - held);
    EXPECT_GT(fractions.front(), 0.5); // goes on from the held half, not from 0
    EXPECT_FALSE(partialKept());
}

TEST_F(DownloadResume, HeldBytesAreDroppedWhenTheyCannotServeTheNextDownload) {
    const std::string other = bodyOf(body.size() / 2, 13);
    server.serveFile("/build.zip", {{.body = body, .etag = "\"v1\"", .cutAt = cut}});
    server.serveFile("/other.zip", {{.body = other, .etag = "\"v9\""}});
    options.retryDelays.clear();
    const auto interrupted = [&] {
        errorOf([&] { download(); });
        ASSERT_TRUE(partialKept());
    };

    // Another address: its own body from the start.
    interrupted();
    syncDownload(server.url("/other.zip"), destination, nullptr, options);
    EXPECT_EQ(readFile(destination), other);
    EXPECT_FALSE(server.requests().back().header("Range"));

    // A wrong checksum: the bytes go, the earlier file stays.
    interrupted();
    writeFile(destination, "earlier archive");
    server.serveFile("/build.zip", {{.body = other, .etag = "\"v1\""}});
    const Error mismatch = errorOf([&] { download({sha256Of(body), 0}); });
    EXPECT_TRUE(mismatch.is(AmCode::ChecksumMismatch)) << mismatch.fullDescription();
    EXPECT_FALSE(partialKept());
    EXPECT_EQ(readFile(destination), "earlier archive");
}

TEST_F(DownloadResume, ACompleteButUnfinishedFileIsFetchedAgain) {
    server.serveFile("/build.zip", {{.body = body, .etag = "\"v1\""}});
    // The whole body arrives but the download ends before it is moved into place.
    errorOf([&] {
        syncDownload(
            server.url("/build.zip"), destination,
            [](double fraction) {
                if (fraction == 1.0) {
                    throw Error("test", 1, "stopped at the last byte");
                }
            },
            options);
    });
    ASSERT_TRUE(partialKept());

    download({sha256Of(body), 0});
    EXPECT_EQ(readFile(destination), body);
    EXPECT_EQ(rangesAsked(),
              (std::vector<std::optional<std::string>>{
                  std::nullopt, "bytes=" + std::to_string(body.size()) + "-", std::nullopt}));
}

TEST(ContentRange, AcceptsOnlyACompleteRangeWithinItsTotal) {
    using Core::Transfer::ContentRange;
    const std::vector<std::pair<std::string, std::optional<std::tuple<int, int, int>>>> cases = {
        {"bytes 0-9/10", std::tuple{0, 9, 10}}, {"bytes 300-999/1000", std::tuple{300, 999, 1000}},
        {"bytes 300-999/*", std::nullopt},      {"bytes */1000", std::nullopt},
        {"bytes 10-9/1000", std::nullopt},      {"bytes 0-1000/1000", std::nullopt},
        {"bytes -1-9/10", std::nullopt},        {"bytes 0-9/10 ", std::nullopt},
        {"items 0-9/10", std::nullopt},         {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        const auto parsed = Core::Transfer::parseContentRange(text);
        ASSERT_EQ(parsed.has_value(), expected.has_value()) << text;
        if (parsed) {
            EXPECT_EQ(std::tuple(parsed->first, parsed->last, parsed->total),
                      (std::tuple<std::int64_t, std::int64_t, std::int64_t>(*expected)))
                << text;
        }
    }
}

} // namespace

#include "core/transfer/FileDownloader.h"

#include "core/trust/Sha256.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string bytesOfLength(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>(i * 7 % 256);
    }
    return bytes;
}

// Names in a folder: a failed or finished download must leave no temporary file behind.
std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

class FileDownloaderTest : public ::testing::Test {
protected:
    std::vector<double> download(const std::string& path) {
        std::vector<double> fractions;
        syncDownload(
            server.url(path), destination, [&](double fraction) { fractions.push_back(fraction); },
            options);
        return fractions;
    }

    LoopbackServer server;
    TempDir folder;
    fs::path destination = folder / "update.zip";
    Core::Transfer::TransferOptions options = loopbackTransferOptions();
};

TEST_F(FileDownloaderTest, ReportsRisingFractionsEndingAtOneWhenTheLengthIsKnown) {
    const std::string body = bytesOfLength(3 * 1024 * 1024 + 17);
    server.serve("/build.zip", body);

    const std::vector<double> fractions = download("/build.zip");

    EXPECT_EQ(readFile(destination), body);
    ASSERT_GE(fractions.size(), 2U);
    for (std::size_t i = 1; i < fractions.size(); ++i) {
        EXPECT_LT(fractions[i - 1], fractions[i]);
    }
    EXPECT_GT(fractions.front(), 0.0);
    EXPECT_EQ(fractions.back(), 1.0);
}

TEST_F(FileDownloaderTest, ReportsNoProgressWithoutALength) {
    const std::string body = bytesOfLength(100 * 1024);
    server.serveChunked("/chunked.zip", body);
    server.serve("/empty.zip", "");

    for (const auto& [path, expected] : {std::pair{"/chunked.zip", body}, {"/empty.zip", ""}}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(download(path).empty());
        EXPECT_EQ(readFile(destination), expected);
        EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"update.zip"});
    }
}

TEST_F(FileDownloaderTest, ReplacesWhateverStandsAtTheDestination) {
    server.serve("/build.zip", "new archive");
    for (const bool earlierIsFolder : {false, true}) {
        SCOPED_TRACE(earlierIsFolder ? "folder" : "file");
        fs::remove_all(destination);
        writeFile(earlierIsFolder ? destination / "inner" / "file" : destination,
                  "old archive, longer than the new one");
        if (earlierIsFolder) {
            // Something odd where the partial file goes is cleared too.
            writeFile(folder / "update.zip.part" / "inner", "not a partial file");
        }
        download("/build.zip");
        EXPECT_EQ(readFile(destination), "new archive");
        EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"update.zip"});
    }
}

TEST_F(FileDownloaderTest, FailuresLeaveTheEarlierFileAndNoTemporaryFile) {
    server.serve("/missing.zip", "<html>Not Found</html>", 404, "text/html");
    server.serveFile("/cut.zip", {{.body = bytesOfLength(200 * 1024), .cutAt = 50 * 1024}});
    server.serveFile("/stalled.zip", {{.body = bytesOfLength(20 * 1024),
                                       .cutAt = 10 * 1024,
                                       .holdAtCut = std::chrono::seconds(10)}});
    server.redirect("/to-file.zip", "file:///etc/hostname");
    // Far more than any disk holds: refused before a byte is written.
    server.serveFile("/huge.zip", {{.body = "PK", .announcedLength = std::size_t{1} << 60}});

    const struct {
        const char* path;
        std::string domain;
        int code;
        std::string message; // empty: curl's own text, not checked
    } cases[] = {
        {"/missing.zip", "am", 5, "download failed with HTTP status 404"},
        {"/cut.zip", "curl", 18, ""},
        {"/stalled.zip", "curl", 28, ""},
        {"/to-file.zip", "am", 7, "unsupported address: file:///etc/hostname"},
        {"/huge.zip", "am", 9, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        writeFile(destination, "earlier archive");
        const Error error = errorOf([&] { download(c.path); });
        EXPECT_EQ(error.domain(), c.domain);
        EXPECT_EQ(error.code(), c.code);
        if (!c.message.empty()) {
            EXPECT_EQ(error.message(), c.message);
        }
        EXPECT_EQ(readFile(destination), "earlier archive");
        EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"update.zip"});
    }
}

TEST_F(FileDownloaderTest, MissingFolderFailsWithoutSendingAnything) {
    server.serve("/build.zip", "archive");
    const Error error = errorOf([&] {
        syncDownload(server.url("/build.zip"), folder / "absent" / "update.zip", {}, options);
    });
    EXPECT_EQ(error.domain(), "posix");
    EXPECT_EQ(error.code(), ENOENT);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(FileDownloaderTest, AStopRequestEndsAStalledTransferAndKeepsTheEarlierFile) {
    server.serveFile("/stalled.zip",
                     {{.body = "PK..", .cutAt = 2, .holdAtCut = std::chrono::seconds(10)}});
    options.idleTimeout = std::chrono::seconds(8);
    writeFile(destination, "earlier archive");
    std::stop_source stop;
    options.stop = stop.get_token();
    std::jthread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });

    const Error error =
        errorOf([&] { syncDownload(server.url("/stalled.zip"), destination, {}, options); });
    EXPECT_EQ(error.domain(), "curl");
    EXPECT_EQ(error.code(), 42); // CURLE_ABORTED_BY_CALLBACK
    EXPECT_EQ(readFile(destination), "earlier archive");
    EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"update.zip"});
}

TEST_F(FileDownloaderTest, TheBodyMustMatchTheExpectedChecksum) {
    const std::string body = bytesOfLength(300 * 1024);
    server.serve("/build.zip", body);
    Core::Trust::Sha256 hash;
    hash.update(body);
    const std::string digest = hash.hexDigest();
    std::string upper = digest;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::string other(64, 'a');

    const struct {
        const char* name;
        std::string expected;
        std::optional<std::string> detail; // nothing: the download succeeds
        std::size_t requests;
    } cases[] = {
        {"matching", digest, std::nullopt, 1},
        {"matching in upper case", upper, std::nullopt, 1},
        {"different", other, "expected " + other + ", got " + digest, 1},
        {"not hex", std::string(64, 'g'), "macsha256 is not 64 hex digits", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(destination, "earlier archive");
        const std::size_t before = server.requests().size();
        const auto run = [&] {
            syncDownload(server.url("/build.zip"), destination, nullptr, options, {c.expected, 0});
        };
        if (!c.detail) {
            run();
            EXPECT_EQ(readFile(destination), body);
        } else {
            const Error error = errorOf(run);
            EXPECT_TRUE(error.is(AmCode::ChecksumMismatch)) << error.fullDescription();
            EXPECT_EQ(error.message(), "download checksum mismatch");
            EXPECT_EQ(error.detail(), c.detail);
            EXPECT_EQ(readFile(destination), "earlier archive");
        }
        EXPECT_EQ(server.requests().size() - before, c.requests);
        EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"update.zip"});
    }
}

} // namespace

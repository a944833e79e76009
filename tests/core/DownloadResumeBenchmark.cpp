#include "core/FileDownloader.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {

// Not part of the suite; run with --gtest_also_run_disabled_tests. Prints how many bytes of a
// 200 MB archive cross the network after the connection drops half-way, within one download (a
// retry) and across two (the second run continues the first one's file): about half, not all.
TEST(DownloadResumeBenchmark, DISABLED_BytesSentAgainAfterAnInterruptionHalfWay) {
    constexpr std::size_t size = 200 * 1000 * 1000;
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>(i % 251);
    }
    for (const bool acrossRuns : {false, true}) {
        LoopbackServer server;
        TempDir folder;
        const auto destination = folder / "update.zip";
        server.serveFile("/build.zip", {{.body = body, .etag = "\"b1\"", .cutAt = size / 2},
                                        {.body = body, .etag = "\"b1\""}});
        TransferOptions options = loopbackTransferOptions();
        options.retryDelays = {std::chrono::milliseconds(10)};
        const auto start = std::chrono::steady_clock::now();
        if (acrossRuns) {
            TransferOptions once = options;
            once.retryDelays.clear();
            errorOf([&] { syncDownload(server.url("/build.zip"), destination, nullptr, once); });
        }
        syncDownload(server.url("/build.zip"), destination, nullptr, options);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ASSERT_EQ(std::filesystem::file_size(destination), size);
        const auto after = server.fileBytesSent() - static_cast<std::int64_t>(size / 2);
        std::printf("%s: %zu-byte archive cut at 50 %%; sent after the cut %lld bytes (%.1f %% of "
                    "the archive); %.2f s in all\n",
                    acrossRuns ? "next run" : "retry", size, static_cast<long long>(after),
                    100.0 * static_cast<double>(after) / static_cast<double>(size), seconds);
    }
}

} // namespace

#include "ui/PlayerMessage.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(PlayerMessage, CommonFailuresAreSaidInAPlayersWords) {
    const struct {
        Error error;
        std::string expected;
    } rows[] = {
        {Error("curl", CURLE_COULDNT_RESOLVE_HOST, "Could not resolve host"),
         "Cannot find releases.example \u2014 check your internet connection."},
        {Error("curl", CURLE_OPERATION_TIMEDOUT, "Operation timed out"),
         "releases.example is not answering \u2014 try again later."},
        {Error("curl", CURLE_PEER_FAILED_VERIFICATION, "SSL certificate problem"),
         "The secure connection to releases.example failed \u2014 check the date and time."},
        {Error::am(AmCode::HttpStatus, "download failed with HTTP status 503"),
         "releases.example answered with an error (503) \u2014 try again later."},
        {Error::am(AmCode::NotEnoughSpace, "not enough disk space: 9 MB needed, 1 MB free"),
         "not enough disk space: 9 MB needed, 1 MB free"},
        {Error::posix(ENOSPC, "write", "/x"), "Not enough disk space."},
        {Error::am(AmCode::ChecksumMismatch, "download checksum mismatch"),
         "The release could not be verified and was not installed."},
        {Error::am(AmCode::OlderRelease, "release is older than one already accepted"),
         "releases.example offered an older release than one you already had \u2014 it was not "
         "installed."},
        // Anything else keeps its own message.
        {Error::am(AmCode::NoArchiveAddress, "manifest has no macurl"), "manifest has no macurl"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(playerMessage(row.error, "releases.example"), row.expected)
            << row.error.fullDescription();
    }
}

} // namespace

#include "platform/Error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

// Scripts read the self-check's FAIL line, and the window shows localizedMessage(): both
// renderings are contracts.
TEST(Error, RendersForTheReportAndTheWindow) {
    struct Case {
        Error error;
        std::string full;
        std::string localized;
    };
    const Case cases[] = {
        {Error::am(AmCode::UnpackFailed, "ditto failed with status 1", "entry leaves the folder"),
         "Error Domain=am Code=2 \"ditto failed with status 1\" (entry leaves the folder)",
         "ditto failed with status 1"},
        {Error::am(AmCode::NoArchiveAddress, "manifest has no macurl"),
         "Error Domain=am Code=3 \"manifest has no macurl\"", "manifest has no macurl"},
        {Error::am(AmCode::BadAddress), "Error Domain=am Code=1",
         "The operation couldn\u2019t be completed. (am error 1.)"},
        {Error::am(AmCode::BadAddress, std::nullopt, "no host"), "Error Domain=am Code=1 (no host)",
         "The operation couldn\u2019t be completed. (am error 1.)"},
        {Error("curl", 7, "Failed to connect to 127.0.0.1 port 9"),
         "Error Domain=curl Code=7 \"Failed to connect to 127.0.0.1 port 9\"",
         "Failed to connect to 127.0.0.1 port 9"},
        {Error::posix(ENOENT, "read", "/x/installed.txt"),
         "Error Domain=posix Code=2 \"cannot read /x/installed.txt: No such file or directory\"",
         "cannot read /x/installed.txt: No such file or directory"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error.fullDescription(), c.full);
        EXPECT_EQ(c.error.what(), c.full);
        EXPECT_EQ(c.error.localizedMessage(), c.localized);
    }
}

} // namespace

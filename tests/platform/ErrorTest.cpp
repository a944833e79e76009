#include "platform/Error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <new>
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

// Whatever a run meets ends it as an Error: out of memory or a library's own exception too.
TEST(Error, AnyExceptionBecomesOne) {
    const auto caught = [](auto thrown) {
        try {
            throw thrown;
        } catch (...) {
            return currentError().fullDescription();
        }
    };
    EXPECT_EQ(caught(Error::am(AmCode::InstallLocked)), "Error Domain=am Code=11");
    EXPECT_EQ(caught(std::bad_alloc()), "Error Domain=std Code=0 \"std::bad_alloc\"");
    EXPECT_EQ(caught(42), "Error Domain=std Code=0 \"unknown exception\"");
}

} // namespace

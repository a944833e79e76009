#include "core/install/BundleName.h"

#include "support/ErrorOf.h"

#include <gtest/gtest.h>

namespace {

TEST(BundleName, OnlyOnePlainNameInsideTheBuildFolderIsAccepted) {
    for (const char* safe : {"Ashenmarch.app", "", "My Game.app", "..app", "a..b"}) {
        Manifest manifest;
        manifest.exe = safe;
        EXPECT_NO_THROW(Core::Install::requireSafeBundleName(manifest)) << safe;
    }
    for (const char* unsafe : {"..", ".", "../Evil.app", "/Applications/Evil.app", "a/b.app",
                               "..\\Evil.app", "Sub\\Game.app"}) {
        Manifest manifest;
        manifest.exe = unsafe;
        const Error error = errorOf([&] { Core::Install::requireSafeBundleName(manifest); });
        EXPECT_TRUE(error.is(AmCode::UnsafeBundleName)) << unsafe;
        EXPECT_EQ(error.message(), "manifest has an unsafe macexe");
    }
}

} // namespace

#include "support/InterruptedUpdate.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace fs = std::filesystem;

const char* const gameFile = "Ashenmarch.app/Contents/MacOS/ASHENMARCH";

const std::vector<Interruption>& everyInterruption() {
    static const std::vector<Interruption> states = {
        {"mid-unpack", "1.0", false, true, true, false, false, "1.0"},
        {"pending written", "1.0", true, true, true, false, false, "1.0"},
        {"old set aside", "1.0", true, true, false, true, false, "1.0"},
        {"new swapped in", "1.0", true, false, false, true, true, "2.0"},
        {"marker written", "2.0", true, false, false, true, true, "2.0"},
        {"pending cleared", "2.0", false, false, false, true, true, "2.0"},
        {"mid-unpack, read-only folder", "1.0", false, true, true, false, false, "1.0", 0555},
        {"new swapped in, closed folder", "1.0", true, false, false, true, true, "2.0", 0},
        {"mid re-extract", "2.0", false, false, false, false, true, "2.0", 0555, true},
        {"mid patch", "1.0", false, true, true, false, false, "1.0", -1, false, true},
    };
    return states;
}

void leaveInterruptedUpdate(const Interruption& state, const fs::path& root) {
    const auto writeBuild = [&](const fs::path& build, const std::string& version) {
        writeFile(build / gameFile, "game " + version);
        writeFile(build / ".ashenmarch-index", "index " + version);
        if (state.folderMode >= 0) {
            writeFile(build / "Ashenmarch.app/Sealed/data", version);
            fs::permissions(build / "Ashenmarch.app/Sealed", fs::perms(state.folderMode));
        }
    };
    writeFile(root / "installed.txt", state.marker);
    if (state.pending) {
        writeFile(root / "installing.txt", "2.0");
    }
    if (state.staged) {
        writeBuild(root / "build.staging", "2.0");
    }
    if (state.patching) {
        writeFile(root / "build.staging/.ashenmarch-patch", "sha of index 2.0");
    }
    if (state.oldInBuild) {
        writeBuild(root / "build", "1.0");
    }
    if (state.oldAside) {
        writeBuild(root / "build.old", "1.0");
    }
    if (state.newInBuild) {
        writeBuild(root / "build", "2.0");
    }
    if (state.reextracting) {
        writeFile(root / "build/.ashenmarch-unpacking", "");
        writeFile(root / "build/Ashenmarch.app/Contents/MacOS/.ashenmarch-unpacking.41.7", "ga");
    }
    // Atomic writes cut short: the marker's, the accepted release's and the partial download's
    // record.
    writeFile(root / ".installed.txt.Ab12Cd", "2.");
    writeFile(root / ".released.txt.Ij56Kl", "2026-");
    writeFile(root / ".update.zip.part.meta.Ef34Gh", "address=");
}

void PrintTo(const Interruption& state, std::ostream* out) {
    *out << state.step;
}

std::string interruptionName(const Interruption& state) {
    std::string name = state.step;
    std::replace(name.begin(), name.end(), ' ', '_');
    std::erase_if(
        name, [](char c) { return c != '_' && std::isalnum(static_cast<unsigned char>(c)) == 0; });
    return name;
}

void expectOneSettledBuild(const fs::path& root, const std::string& version,
                           const std::string& gameText) {
    EXPECT_EQ(readFile(root / "installed.txt"), version);
    EXPECT_EQ(readFile(root / "build" / gameFile), gameText);
    for (const char* leftover : {"build.staging", "build.old", "installing.txt", "update.zip",
                                 "update.zip.part", "update.zip.part.meta"}) {
        EXPECT_FALSE(fs::exists(root / leftover)) << leftover;
    }
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(root, ignored)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(!name.starts_with(".") || name == ".lock") << entry.path();
    }
    for (auto entry = fs::recursive_directory_iterator(
             root / "build", fs::directory_options::skip_permission_denied, ignored);
         entry != fs::recursive_directory_iterator(); entry.increment(ignored)) {
        EXPECT_FALSE(entry->path().filename().string().starts_with(".ashenmarch-unpacking"))
            << entry->path();
    }
}

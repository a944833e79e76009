#include "cli/VerifyMode.h"

#include "cli/Report.h"
#include "core/install/InstallStore.h"
#include "core/unpack/VerifyInstall.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"

#include <iostream>

namespace CLI {

namespace {

// A name on disk may hold any byte but "/": a line break in one must not start a line of its
// own, where a script would read it as the verdict.
std::string shown(std::string path) {
    for (char& c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = '?';
        }
    }
    return path;
}

int fail(std::ostream& out, const std::string& reason) {
    out << "ERROR: " << reason << '\n';
    return 1;
}

} // namespace

int runVerify(const Core::Install::InstallLayout& layout, std::ostream& out) {
    printLine(out, "install root", layout.root.string());
    if (!FileSystem::exists(layout.buildDir())) {
        return fail(out, "nothing is installed");
    }
    printLine(out, "installed", Core::Install::installedVersion(layout));
    const std::optional<FileIndex> index = Core::Install::installedIndex(layout);
    if (!index) {
        return fail(out, "no file index is kept with this build; --repair fetches it");
    }
    Core::Unpack::InstallCheck check;
    try {
        check = Core::Unpack::verifyInstall(*index, layout.buildDir());
    } catch (...) {
        return fail(out, currentError().fullDescription());
    }
    const std::pair<const char*, const std::vector<std::string>*> lists[] = {
        {"missing", &check.missing},
        {"changed", &check.changed},
        {"unexpected", &check.unexpected}};
    std::size_t count = 0;
    for (const auto& [label, paths] : lists) {
        for (const std::string& path : *paths) {
            printLine(out, label, shown(path));
            ++count;
        }
    }
    if (count > 0) {
        out << "DAMAGED " << count << '\n';
        return 1;
    }
    out << "VERIFIED\n";
    return 0;
}

int runVerifyMode() {
    return runVerify(Core::Install::InstallLayout{Core::Install::installRoot()}, std::cout);
}

} // namespace CLI

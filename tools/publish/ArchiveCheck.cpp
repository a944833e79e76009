#include "publish/ArchiveCheck.h"

#include "core/unpack/UnpackPlan.h"
#include "core/unpack/Utf8NameLocale.h"
#include "platform/Error.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace Publish {

namespace {

// An empty folder of its own, removed with whatever is in it when the object goes.
class EmptyFolder {
public:
    EmptyFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ashenmarch-publish.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw Error::posix(errno, "create", pattern);
        }
        path_ = pattern;
    }
    ~EmptyFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    EmptyFolder(const EmptyFolder&) = delete;
    EmptyFolder& operator=(const EmptyFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// What unpacking the archive into an empty folder would create, or the launcher's reason for
// refusing it.
Core::Unpack::UnpackPlan planFor(const std::filesystem::path& zip) {
    const EmptyFolder empty;
    const Core::Unpack::DestinationFolder destination(empty.path());
    const Core::Unpack::Utf8NameLocale utf8Names;
    try {
        return Core::Unpack::planUnpacking(zip, destination);
    } catch (const Error& refused) {
        throw std::runtime_error(zip.string() + ": launchers would refuse to unpack it: " +
                                 refused.detail().value_or(refused.localizedMessage()));
    }
}

} // namespace

void requireLaunchableArchive(const std::filesystem::path& zip, const std::string& exe) {
    const Core::Unpack::UnpackPlan plan = planFor(zip);
    const std::string executable = exe + "/Contents/MacOS/ASHENMARCH";
    const bool hasExecutable =
        std::any_of(plan.files.begin(), plan.files.end(),
                    [&](const Core::Unpack::PlannedFile& file) { return file.path == executable; });
    if (hasExecutable) {
        return;
    }
    const bool hasBundle =
        std::any_of(plan.folders.begin(), plan.folders.end(),
                    [&](const Core::Unpack::PlannedFolder& folder) { return folder.path == exe; });
    if (!hasBundle) {
        throw std::runtime_error(zip.string() + " does not contain the bundle " + exe +
                                 " at its top level");
    }
    throw std::runtime_error(zip.string() + " does not contain the file " + executable +
                             ", the game's executable");
}

} // namespace Publish

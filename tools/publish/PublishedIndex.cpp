#include "publish/PublishedIndex.h"

#include "core/trust/Sha256.h"
#include "core/unpack/ArchiveIndex.h"
#include "platform/Error.h"

#include <algorithm>
#include <stdexcept>

namespace Publish {

namespace {

std::string indexFileName(const std::string& address) {
    const std::string path = address.substr(0, address.find_first_of("?#"));
    const std::size_t slash = path.rfind('/');
    const std::size_t hostStart = path.find("//");
    const std::string name = slash == std::string::npos ? "" : path.substr(slash + 1);
    if (hostStart == std::string::npos || slash <= hostStart + 1 || name == ".index") {
        throw std::invalid_argument("the archive address must end in a file name");
    }
    return name;
}

} // namespace

std::string indexAddress(const std::string& archiveUrl) {
    const std::size_t pathEnd = std::min(archiveUrl.find_first_of("?#"), archiveUrl.size());
    return archiveUrl.substr(0, pathEnd) + ".index" + archiveUrl.substr(pathEnd);
}

PublishedIndex publishedIndex(const std::filesystem::path& zip, const std::string& archiveUrl) {
    PublishedIndex index;
    index.address = indexAddress(archiveUrl);
    index.fileName = indexFileName(index.address);
    try {
        index.text = Core::Unpack::indexArchive(zip).serialize();
    } catch (const Error& error) {
        throw std::runtime_error(zip.string() + " cannot be published: " +
                                 error.detail().value_or(error.localizedMessage()));
    }
    Core::Trust::Sha256 hash;
    hash.update(index.text);
    index.sha256 = hash.hexDigest();
    return index;
}

} // namespace Publish

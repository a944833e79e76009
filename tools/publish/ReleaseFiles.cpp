#include "publish/ReleaseFiles.h"

#include "core/trust/Sha256.h"
#include "core/unpack/ZipHeaders.h"
#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "publish/KeyFiles.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <stdexcept>

namespace Publish {

namespace {

bool hasLineBreak(std::string_view value) {
    return value.find_first_of("\r\n") != std::string_view::npos;
}

void requireArchiveHoldsGame(const ReleaseRequest& request) {
    const std::string executable = request.exe + "/Contents/MacOS/ASHENMARCH";
    std::vector<Core::Unpack::ZipEntryHeader> entries;
    try {
        entries = Core::Unpack::readZipHeaders(request.zip);
    } catch (const Error& error) {
        throw std::runtime_error("cannot read " + request.zip.string() +
                                 " as a zip archive: " + error.detail().value_or("unknown reason"));
    }
    const bool found = std::any_of(entries.begin(), entries.end(), [&](const auto& entry) {
        const std::string_view path = entry.path;
        return entry.regularFile &&
               (path == executable || (path.starts_with("./") && path.substr(2) == executable));
    });
    if (!found) {
        throw std::runtime_error(request.zip.string() + " does not contain the file " + executable +
                                 " (the game's bundle must be at the archive's top level)");
    }
}

struct ArchiveFacts {
    std::uint64_t size = 0;
    std::string sha256;
};

ArchiveFacts measureArchive(const std::filesystem::path& zip) {
    std::ifstream in(zip, std::ios::binary);
    Core::Trust::Sha256 hash;
    ArchiveFacts facts;
    std::array<char, 64 * 1024> chunk{};
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
        const auto count = static_cast<std::size_t>(in.gcount());
        hash.update({chunk.data(), count});
        facts.size += count;
    }
    if (in.bad() || !in.eof()) {
        throw std::runtime_error("cannot read " + zip.string());
    }
    facts.sha256 = hash.hexDigest();
    return facts;
}

} // namespace

void checkReleaseRequest(const ReleaseRequest& request) {
    if (request.version.empty()) {
        throw std::invalid_argument("the version is empty");
    }
    if (!request.url.starts_with("https://") && !request.url.starts_with("http://")) {
        throw std::invalid_argument("the archive address must begin with https:// or http://");
    }
    if (hasLineBreak(request.version) || hasLineBreak(request.url) || hasLineBreak(request.exe) ||
        hasLineBreak(request.notes)) {
        throw std::invalid_argument("values must not contain line breaks");
    }
    if (request.exe.empty() || request.exe == "." || request.exe == ".." ||
        request.exe.find_first_of("/\\") != std::string::npos) {
        throw std::invalid_argument("the bundle name must be a plain name such as Ashenmarch.app");
    }
}

std::string manifestText(const ReleaseRequest& request, std::uint64_t zipSize,
                         const std::string& zipSha256, const PublishedIndex& index) {
    std::string text = "version=" + request.version + "\n";
    text += "macurl=" + request.url + "\n";
    text += "macsize=" + std::to_string(zipSize) + "\n";
    text += "macexe=" + request.exe + "\n";
    text += "macsha256=" + zipSha256 + "\n";
    text += "macindex=" + index.address + "\n";
    text += "macindexsha256=" + index.sha256 + "\n";
    if (!request.notes.empty()) {
        text += "notes=" + request.notes + "\n";
    }
    return text;
}

void publishRelease(const ReleaseRequest& request, std::ostream& log) {
    checkReleaseRequest(request);
    requireArchiveHoldsGame(request);
    const PublishedIndex index = publishedIndex(request.zip, request.url);
    const ArchiveFacts archive = measureArchive(request.zip);
    const std::string manifest = manifestText(request, archive.size, archive.sha256, index);
    // Sign before writing anything, so a bad key leaves the folder as it was.
    std::optional<std::string> signature;
    std::string publicKey;
    if (request.key) {
        const SigningKey key(*request.key);
        signature = key.sign(manifest) + "\n";
        publicKey = key.publicKeyText();
    }

    FileSystem::createFolder(request.out);
    // The index first: a manifest must never name an index that is not there yet.
    const std::filesystem::path indexFile = request.out / index.fileName;
    FileSystem::writeTextAtomically(indexFile, index.text);
    log << "wrote " << indexFile.string() << " (upload it beside the archive, as " << index.address
        << ")\n";
    const std::filesystem::path manifestFile = request.out / "latest.txt";
    const std::filesystem::path signatureFile = request.out / "latest.txt.sig";
    FileSystem::writeTextAtomically(manifestFile, manifest);
    log << "wrote " << manifestFile.string() << " (version " << request.version << ", "
        << archive.size << " bytes, sha256 " << archive.sha256 << ")\n";
    if (signature) {
        FileSystem::writeTextAtomically(signatureFile, *signature);
        log << "wrote " << signatureFile.string() << " (public key " << publicKey << ")\n";
    } else if (FileSystem::exists(signatureFile)) {
        FileSystem::remove(signatureFile);
        log << "removed " << signatureFile.string() << ": it signed an earlier manifest\n";
    }
}

} // namespace Publish

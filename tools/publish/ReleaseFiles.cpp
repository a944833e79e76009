#include "publish/ReleaseFiles.h"

#include "core/trust/Sha256.h"
#include "formats/Manifest.h"
#include "formats/Text.h"
#include "platform/FileSystem.h"
#include "publish/ArchiveCheck.h"
#include "publish/KeyFiles.h"
#include "publish/VersionOrder.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <stdexcept>

namespace Publish {

namespace {

// The release <out>/latest.txt holds now, or nothing when there is none.
std::optional<Manifest> publishedRelease(const std::filesystem::path& out) {
    const std::filesystem::path manifest = out / "latest.txt";
    if (!FileSystem::exists(manifest)) {
        return std::nullopt;
    }
    return Manifest::parse(FileSystem::readText(manifest));
}

void requireNewerVersion(const ReleaseRequest& request, const std::string& published,
                         const std::string& file) {
    const auto order = compareVersions(request.version, published);
    const std::string rollBack = "; give --allow-downgrade to publish it anyway";
    if (!order) {
        throw std::runtime_error("cannot tell whether version " + request.version +
                                 " comes after " + published + ", the version in " + file +
                                 " (versions compare as dotted numbers)" + rollBack);
    }
    if (*order == 0) {
        throw std::runtime_error("version " + request.version + " is already published in " + file +
                                 rollBack);
    }
    if (*order < 0) {
        throw std::runtime_error("version " + request.version + " is lower than " + published +
                                 ", the version in " + file + rollBack);
    }
}

// Everything launchers would refuse, before anything is signed or written.
void requirePublishable(const ReleaseRequest& request) {
    if (!request.key && !request.unsignedRelease) {
        throw std::runtime_error("no --key given: sign the release with --key <private-key-file>,"
                                 " or give --unsigned to publish it without a signature");
    }
    requireLaunchableArchive(request.zip, request.exe);
    const std::optional<Manifest> published = publishedRelease(request.out);
    if (!published) {
        return;
    }
    const std::string file = (request.out / "latest.txt").string();
    if (!request.allowDowngrade && !published->version.empty()) {
        requireNewerVersion(request, published->version, file);
    }
    if (isOlderRelease(request.released, published->released)) {
        throw std::runtime_error("this machine's clock (" + formatReleaseTime(request.released) +
                                 ") is behind the release in " + file + " (released " +
                                 formatReleaseTime(*published->released) +
                                 "): launchers that took it would refuse this one");
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
    for (const std::string* value :
         {&request.version, &request.url, &request.exe, &request.notes}) {
        if (Text::hasControlCharacter(*value)) {
            throw std::invalid_argument("values must not contain line breaks or other control "
                                        "characters");
        }
    }
    if (request.exe.empty() || request.exe == "." || request.exe == ".." ||
        request.exe.find_first_of("/\\") != std::string::npos) {
        throw std::invalid_argument("the bundle name must be a plain name such as Ashenmarch.app");
    }
    if (request.key && request.unsignedRelease) {
        throw std::invalid_argument("--key and --unsigned contradict each other");
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
    text += "released=" + formatReleaseTime(request.released) + "\n";
    if (!request.notes.empty()) {
        text += "notes=" + request.notes + "\n";
    }
    return text;
}

void publishRelease(const ReleaseRequest& request, std::ostream& log) {
    checkReleaseRequest(request);
    requirePublishable(request);
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
        log << "removed " << signatureFile.string()
            << ": it signed the previous manifest, and launchers built with a release key will"
               " refuse this unsigned release\n";
    }
}

} // namespace Publish

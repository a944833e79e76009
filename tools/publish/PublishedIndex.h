#pragma once

#include <filesystem>
#include <string>

namespace Publish {

// The file index published with a release: written beside the archive on the host and named
// in the manifest by macindex and macindexsha256.
struct PublishedIndex {
    std::string text;     // the file's exact bytes
    std::string fileName; // what it is written and uploaded as: "<archive name>.index"
    std::string address;  // the archive's address with ".index" added to its path
    std::string sha256;   // of `text`
};

// Indexes the archive (see Core::Unpack::indexArchive) for an archive served at `archiveUrl`.
// Throws std::invalid_argument when that address does not end in a file name, and
// std::runtime_error with the reason when the archive holds an entry the launcher would
// refuse or the index cannot vouch for. Blocking file reads.
PublishedIndex publishedIndex(const std::filesystem::path& zip, const std::string& archiveUrl);

// The index's address for an archive address: ".index" added to the path, before any query.
std::string indexAddress(const std::string& archiveUrl);

} // namespace Publish

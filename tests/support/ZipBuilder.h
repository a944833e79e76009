#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// Builds a zip archive in memory with libarchive's writer, for tests that unpack. Names and
// link targets are recorded exactly as given ("../x", "/abs", backslashes included), so tests
// can build hostile archives as easily as good ones. Entries appear in the order added.
class ZipBuilder {
public:
    ZipBuilder& file(std::string name, std::string content, unsigned mode = 0644);
    ZipBuilder& folder(std::string name, unsigned mode = 0755);
    ZipBuilder& symlink(std::string name, std::string target);
    // An entry recorded as a device or socket (`mode` holds the type bits). The writer refuses
    // those, so it is written as a file and its recorded mode is patched afterwards.
    ZipBuilder& special(std::string name, unsigned mode);
    // Store file contents uncompressed, so a test can find and damage them in the bytes.
    ZipBuilder& uncompressed();
    // Record every entry with ZIP64 fields, whatever its size.
    ZipBuilder& zip64();

    std::string bytes() const;
    void writeTo(const std::filesystem::path& zip) const;

private:
    struct Entry {
        std::string name;
        unsigned mode; // type and permission bits
        std::string content;
        std::string linkTarget;
    };
    std::vector<Entry> entries_;
    std::vector<std::pair<std::string, unsigned>> patchedModes_;
    bool compressed_ = true;
    bool zip64_ = false;
};

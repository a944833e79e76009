#include "core/unpack/UnpackError.h"

#include "platform/Error.h"

#include <cstdio>
#include <cstring>

namespace Core::Unpack {

void fail(std::string reason) {
    throw Error::am(AmCode::UnpackFailed, "ditto failed with status 1", std::move(reason));
}

std::string shownName(std::string_view name) {
    std::string text = "\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        } else {
            text += c;
        }
    }
    return text + "\"";
}

std::string libraryError(archive* handle) {
    const char* text = archive_error_string(handle);
    return text != nullptr ? text : "unknown error";
}

void require(la_ssize_t status, archive* handle, std::string_view entryName) {
    if (status != ARCHIVE_OK) {
        fail("entry " + shownName(entryName) + ": " + libraryError(handle));
    }
}

void failReading(const std::filesystem::path& zip, std::string_view reason) {
    fail("cannot read archive " + shownName(zip.string()) + ": " + std::string(reason));
}

void failSystem(std::string_view entryName, std::string_view action, int errnum) {
    fail("entry " + shownName(entryName) + ": cannot " + std::string(action) + ": " +
         std::strerror(errnum));
}

} // namespace Core::Unpack

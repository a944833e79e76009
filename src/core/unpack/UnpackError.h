#pragma once

#include <archive.h>

#include <filesystem>
#include <string>
#include <string_view>

// The one failure unpacking reports: "am" 2 "ditto failed with status 1" with the reason as
// detail, plus the helpers that word reasons the same way everywhere. Any thread.
namespace Core::Unpack {

[[noreturn]] void fail(std::string reason);

// A name as it appears in a reason: quoted, control bytes shown escaped (never sent raw to a
// terminal through a report line).
std::string shownName(std::string_view name);

// libarchive's text for the handle's last error.
std::string libraryError(archive* handle);

// Anything but ARCHIVE_OK fails, warnings included: a warning can mean a bad checksum, and a
// half-right build is worse than none. The reason names the entry.
void require(la_ssize_t status, archive* handle, std::string_view entryName);

// Fails with "cannot read archive <name>: <reason>".
[[noreturn]] void failReading(const std::filesystem::path& zip, std::string_view reason);

// Fails with the entry's name, what could not be done and errno's text.
[[noreturn]] void failSystem(std::string_view entryName, std::string_view action, int errnum);

} // namespace Core::Unpack

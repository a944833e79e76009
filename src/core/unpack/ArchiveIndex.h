#pragma once

#include "formats/FileIndex.h"

#include <filesystem>

namespace Core::Unpack {

// The file index of a build archive, as the publishing tool writes it beside the archive. Each
// entry is read from its own local record with the inflater a launcher fetching it uses, and
// hashed, so every span the index names is known to unpack on its own to the content it
// promises; kinds and modes are those full unpacking gives. Blocking file reads; the calling
// thread's character type is switched to UTF-8 meanwhile (see Utf8NameLocale).
//
// Throws the unpacking error "am" 2, the reason as detail, when the archive cannot be read or
// holds an entry the launcher would refuse to unpack or the index cannot vouch for: an unsafe
// name, link or kind (as planUnpacking), a name listed twice or read differently by the
// unpacker, encryption, a method other than stored or deflated, or a record that does not
// unpack on its own to the size the central directory records.
FileIndex indexArchive(const std::filesystem::path& zip);

} // namespace Core::Unpack

#pragma once

#include "formats/ReleaseTime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The release manifest, latest.txt: key=value lines. A plain value record; parsing never fails.
struct Manifest {
    std::string version;                 // "version"
    std::string url;                     // "macurl": the build archive's address
    std::int64_t size = 0;               // "macsize": bytes, 0 when absent or not a number
    std::string exe = "Ashenmarch.app";  // "macexe": the bundle's name; may be set empty
    std::string notes;                   // "notes"
    std::string sha256;                  // "macsha256": optional hex digest of the archive
    std::optional<ReleaseTime> released; // "released": when it was published; nothing when
                                         // absent or not in the one accepted form
    std::string indexUrl;                // "macindex": the archive's file index, optional
    std::string indexSha256;             // "macindexsha256": hex digest of that index

    // Whatever the text holds, a complete record comes back; unknown keys and malformed lines
    // are skipped. A line holding a control character other than tab is malformed: no value
    // that could steer a terminal or break the installed-version marker gets through. LF and
    // CR LF line ends both work; a leading byte order mark is skipped.
    static Manifest parse(std::string_view text);

    bool operator==(const Manifest&) const = default;
};

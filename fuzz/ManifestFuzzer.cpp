// Feeds arbitrary text to the manifest parser, which reads whatever the release host serves.
// Beyond "never throws, never crashes" (an escaping exception aborts the run), two properties
// hold for any input:
// - a record written back as key=value lines parses to the same record, so nothing the parser
//   keeps can be lost or altered by a host that republishes it;
// - CR LF line ends read exactly like LF ones.
#include "FuzzSupport.h"
#include "formats/Manifest.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

std::string manifestText(const Manifest& manifest) {
    return "version=" + manifest.version + "\nmacurl=" + manifest.url +
           "\nmacsize=" + std::to_string(manifest.size) + "\nmacexe=" + manifest.exe +
           "\nnotes=" + manifest.notes + "\nmacsha256=" + manifest.sha256 +
           "\nmacindex=" + manifest.indexUrl + "\nmacindexsha256=" + manifest.indexSha256 + "\n" +
           (manifest.released ? "released=" + formatReleaseTime(*manifest.released) + "\n" : "");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = textOf(data, size);
    const Manifest manifest = Manifest::parse(text);

    require(Manifest::parse(manifestText(manifest)) == manifest,
            "a manifest written back parses to the same record");
    require(Manifest::parse(withCrLf(text)) == manifest, "CR LF line ends read like LF");
    return 0;
}

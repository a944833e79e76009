// Feeds arbitrary text to the manifest parser, which reads whatever the release host serves.
// Beyond "never throws, never crashes" (an escaping exception aborts the run): a record written
// back as key=value lines parses to the same record, so nothing the parser keeps can be lost or
// altered by a host that republishes it.
#include "FuzzSupport.h"
#include "formats/Manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = textOf(data, size);
    const Manifest manifest = Manifest::parse(text);
    const std::string written =
        "version=" + manifest.version + "\nmacurl=" + manifest.url +
        "\nmacsize=" + std::to_string(manifest.size) + "\nmacexe=" + manifest.exe +
        "\nnotes=" + manifest.notes + "\nmacsha256=" + manifest.sha256 +
        "\nmacindex=" + manifest.indexUrl + "\nmacindexsha256=" + manifest.indexSha256 + "\n" +
        (manifest.released ? "released=" + formatReleaseTime(*manifest.released) + "\n" : "");
    require(Manifest::parse(written) == manifest,
            "a manifest written back parses to the same record");
    return 0;
}

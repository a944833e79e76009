// Unpacks one archive with the launcher's own extraction, for timing against other unpackers.
//   am-bench-unpack <archive.zip> <destination folder>
// Exit status 0 on success; 1 with the error on standard error.

#include "core/unpack/Extract.h"
#include "platform/Error.h"
#include "platform/TimeZone.h"

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: am-bench-unpack <archive.zip> <destination folder>\n";
        return 2;
    }
    TimeZone::pinSystemZone(); // as the launcher starts
    try {
        Core::Unpack::extract(argv[1], argv[2]);
    } catch (const Error& error) {
        std::cerr << error.fullDescription() << '\n';
        return 1;
    }
    return 0;
}

#pragma once

#include <ostream>
#include <span>
#include <string>

namespace Publish {

// The ashenmarch-publish command line, without the program name:
//   keygen <private-key-file> <public-key-file>
//   release --zip <file> --version <v> --url <address> --out <folder>
//           [--exe <bundle>] [--notes <text>] (--key <private-key-file> | --unsigned)
//           [--allow-downgrade]
// A release is stamped with the system clock's present second as its "released" moment.
// Reports go to `out`, errors to `err`. Returns the exit status: 0 done, 1 failed or refused
// (one line on `err`; nothing written or half-written), 2 bad arguments (with the usage text).
int runPublish(std::span<const std::string> args, std::ostream& out, std::ostream& err);

} // namespace Publish

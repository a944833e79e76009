#pragma once

#include "core/transfer/Transfer.h"
#include "core/trust/ReleaseSignature.h"
#include "formats/Manifest.h"

#include <string>

// The release host's side of a run (see ReleaseRun): what a release must pass before it is
// trusted or written to disk. The fetches block the calling thread and throw Error; any thread.
namespace Core {

// Fetches latest.txt and returns it parsed. When `keys` are required, latest.txt.sig is fetched
// as well and must verify over the manifest's exact bytes before they are parsed, and the
// signed manifest must carry macsha256; otherwise "am" 10 "release signature is not valid".
// Without keys no signature is requested. Transfer errors are those of Transfer::fetch.
Manifest fetchRelease(const std::string& manifestAddress, const Transfer::TransferOptions& options,
                      const Trust::ReleaseKeys& keys);

} // namespace Core

#pragma once

#include "core/install/InstallLayout.h"

#include <ostream>

// --verify: hashes the installed build against the file index kept with it and names every
// item that is not as installed, in lines as the self-check prints its own:
//
//   install root : <root>
//   installed    : <version>
//   missing      : <path>        (listed, not there)
//   changed      : <path>        (another kind, content or execute bit)
//   unexpected   : <path>        (there, not listed; a folder's content is not repeated)
//
// then "VERIFIED", or "DAMAGED <count>" with the number of lines above it, or "ERROR: <reason>"
// when there is nothing to check against. Reads only; --repair mends what it names.
namespace CLI {

// Returns the exit status: 0 after VERIFIED, 1 otherwise.
int runVerify(const Core::Install::InstallLayout& layout, std::ostream& out);

// The --verify mode: runVerify of the install root on standard output.
int runVerifyMode();

} // namespace CLI

#pragma once

#include "formats/Manifest.h"

namespace Core::Install {

// The manifest's bundle name must be one plain name inside `build`: a value with "/" or "\", or
// "." or "..", would point the install (and PLAY) outside it. Throws "am" 8
// "manifest has an unsafe macexe"; an empty value is fine (the default name is used).
void requireSafeBundleName(const Manifest& manifest);

} // namespace Core::Install

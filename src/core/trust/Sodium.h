#pragma once

// libsodium must be initialised once per process before its other calls. Safe to call from any
// thread, any number of times; only the first call does work. Throws Error (domain "sodium")
// in the unlikely case the library cannot start (no source of randomness).
namespace Core::Trust {

void requireSodium();

} // namespace Core::Trust

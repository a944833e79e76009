#include "core/trust/Sodium.h"

#include "platform/Error.h"

#include <sodium.h>

namespace Core::Trust {

void requireSodium() {
    // A function-local static gives the once-only, thread-safe start.
    static const int status = sodium_init();
    if (status < 0) {
        throw Error("sodium", status, "cannot initialise libsodium");
    }
}

} // namespace Core::Trust

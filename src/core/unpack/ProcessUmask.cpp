#include "core/unpack/ProcessUmask.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <sys/stat.h>

namespace Core::Unpack {

namespace {

// The "Umask:" line of /proc/self/status, in octal; -1 when there is none.
long reportedUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            char* end = nullptr;
            const long mask = std::strtol(line.c_str() + 6, &end, 8);
            return end != line.c_str() + 6 ? mask : -1;
        }
    }
    return -1;
}

} // namespace

mode_t processUmask() {
    if (const long reported = reportedUmask(); reported >= 0) {
        return static_cast<mode_t>(reported);
    }
    static std::mutex swapping;
    const std::lock_guard lock(swapping);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

} // namespace Core::Unpack

// Hashes one file with the launcher's SHA-256 class, as a download with a checksum would, and
// prints the seconds it took.
//   am-bench-sha256 <file>

#include "core/trust/Sha256.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: am-bench-sha256 <file>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    Core::Trust::Sha256 digest;
    std::vector<char> block(1 << 20);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
        digest.update({block.data(), static_cast<std::size_t>(in.gcount())});
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("sha256_s=%.3f digest=%s\n", seconds.count(), digest.hexDigest().c_str());
    return 0;
}

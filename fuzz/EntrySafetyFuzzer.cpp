// The pure entry check decides what an archive may write. The input is "kind byte, name NUL
// link target", the byte modulo 5 picking the EntryKind in declaration order. Whatever the
// check accepts must stay inside the destination on paper:
// - the name joined to the destination, normalised, is inside it (a file or link strictly
//   inside, a folder possibly the destination itself);
// - a symbolic link's target, resolved from the link's folder, is inside it too;
// - accepted names and targets hold no backslash or control character; hard links and
//   special files are never accepted;
// - components() gives whole pieces between slashes, never empty or ".", pointing into the
//   name in order.
// Only leading ".." can appear in an accepted target, so resolving it lexically is exact.
#include "FuzzSupport.h"
#include "core/unpack/EntrySafety.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using Core::Unpack::EntrySafety::EntryKind;

namespace {

const fs::path& destination() {
    static const fs::path folder = "/sandbox/destination";
    return folder;
}

// Inside, or also the folder itself unless `strictly`; `path` is in normal form.
bool within(const fs::path& path, bool strictly) {
    const auto [end, _] =
        std::mismatch(destination().begin(), destination().end(), path.begin(), path.end());
    return end == destination().end() && (!strictly || path != destination());
}

bool hasUnsafeCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '\\' || byte < 0x20 || byte == 0x7f;
    });
}

// Each part is a whole piece between slashes (or the name's ends), never empty or ".".
void checkComponents(std::string_view name) {
    const char* previousEnd = name.data();
    for (const std::string_view part : Core::Unpack::EntrySafety::components(name)) {
        const std::size_t offset = static_cast<std::size_t>(part.data() - name.data());
        require(part.data() >= previousEnd && offset + part.size() <= name.size(),
                "components point into the name, in order");
        require(!part.empty() && part != "." && part.find('/') == std::string_view::npos,
                "components are non-empty names other than \".\"");
        require((offset == 0 || name[offset - 1] == '/') &&
                    (offset + part.size() == name.size() || name[offset + part.size()] == '/'),
                "components are whole pieces between slashes");
        previousEnd = part.data() + part.size();
    }
}

// Normal form without a trailing separator, so that "a/" names the same place as "a".
fs::path normal(const fs::path& path) {
    const fs::path normalised = path.lexically_normal();
    return normalised.has_filename() || !normalised.has_relative_path() ? normalised
                                                                        : normalised.parent_path();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const auto kind = static_cast<EntryKind>(data[0] % 5);
    const auto [name, target] = fieldsOf<2>(textOf(data + 1, size - 1));
    checkComponents(name);
    if (Core::Unpack::EntrySafety::refusal(name, kind, target)) {
        return 0;
    }

    require(kind != EntryKind::HardLink && kind != EntryKind::Special,
            "hard links and special files are refused");
    require(!hasUnsafeCharacter(name), "accepted names hold no backslash or control character");
    const fs::path entry = normal(destination() / name);
    require(within(entry, kind != EntryKind::Folder), "an accepted entry stays inside");
    if (kind == EntryKind::SymbolicLink) {
        require(!hasUnsafeCharacter(target),
                "accepted link targets hold no backslash or control character");
        const fs::path resolved = normal(entry.parent_path() / target);
        require(within(resolved, false), "an accepted link points inside");
    }
    return 0;
}

#include "core/unpack/EntrySafety.h"

#include <algorithm>

namespace Core::Unpack::EntrySafety {

namespace {

// Backslashes are separators to other systems' unpackers and control characters can hide
// what a name really is in a report; no build needs either.
bool hasUnsafeCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '\\' || byte < 0x20 || byte == 0x7f;
    });
}

std::optional<std::string> linkTargetRefusal(std::size_t folderDepth, std::string_view target) {
    if (target.empty()) {
        return "symbolic link without a target";
    }
    if (target.front() == '/') {
        return "symbolic link to an absolute path";
    }
    if (hasUnsafeCharacter(target)) {
        return "backslash or control character in the link target";
    }
    std::size_t depth = folderDepth;
    bool pastFirstName = false;
    for (const std::string_view part : components(target)) {
        if (part != "..") {
            pastFirstName = true;
        } else if (pastFirstName) {
            return "symbolic link target goes up after a name";
        } else if (depth == 0) {
            return "symbolic link leads out of the destination";
        } else {
            --depth;
        }
    }
    return std::nullopt;
}

} // namespace

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    }
    return parts;
}

std::optional<std::string> refusal(std::string_view path, EntryKind kind,
                                   std::string_view linkTarget) {
    if (path.empty()) {
        return "empty name";
    }
    if (path.front() == '/') {
        return "absolute path";
    }
    if (hasUnsafeCharacter(path)) {
        return "backslash or control character in the name";
    }
    const std::vector<std::string_view> parts = components(path);
    if (std::find(parts.begin(), parts.end(), "..") != parts.end()) {
        return "\"..\" in the path";
    }
    switch (kind) {
    case EntryKind::HardLink:
        return "hard link";
    case EntryKind::Special:
        return "device, FIFO or socket";
    case EntryKind::Folder:
        return std::nullopt;
    case EntryKind::File:
    case EntryKind::SymbolicLink:
        break;
    }
    if (parts.empty()) {
        return "names the destination itself";
    }
    if (kind == EntryKind::SymbolicLink) {
        return linkTargetRefusal(parts.size() - 1, linkTarget);
    }
    return std::nullopt;
}

} // namespace Core::Unpack::EntrySafety

#pragma once

#include "core/unpack/DestinationFolder.h"

#include <string>
#include <string_view>

// Unpacking over an existing tree writes each file (or link) under a temporary name in its own
// folder and renames it over the old one once complete, mode included: at every instant each
// name holds the old item or the new one, whole. A kill can leave temporary names behind; a
// record at the top of the tree says that some may exist, so that the next recovery looks for
// them only then (see removeUnpackingLeftovers).
namespace Core::Unpack {

// A name no other unpacking uses at the same time: this process's id and a counter.
std::string temporaryName();
bool isTemporaryName(std::string_view name);

// The record's name at the top of the tree.
inline constexpr const char* ReplacementRecordName = ".ashenmarch-unpacking";

// Holds the record while it lives: made before any temporary name, removed once none is left
// (every writer renames or removes its own before it returns, also when failing). Throws the
// unpacking error when the record cannot be made.
class ReplacementRecord {
public:
    explicit ReplacementRecord(const DestinationFolder& destination);
    ~ReplacementRecord();
    ReplacementRecord(const ReplacementRecord&) = delete;
    ReplacementRecord& operator=(const ReplacementRecord&) = delete;

private:
    const DestinationFolder& destination_;
};

} // namespace Core::Unpack

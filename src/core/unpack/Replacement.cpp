#include "core/unpack/Replacement.h"

#include "core/unpack/UnpackError.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Core::Unpack {

namespace {

// The record's name and a dot: no archive entry of a build is named like this.
const std::string TemporaryPrefix = std::string(ReplacementRecordName) + ".";

} // namespace

std::string temporaryName() {
    static std::atomic<unsigned long> next{0};
    return TemporaryPrefix + std::to_string(::getpid()) + "." + std::to_string(next++);
}

bool isTemporaryName(std::string_view name) {
    return name.starts_with(TemporaryPrefix);
}

ReplacementRecord::ReplacementRecord(const DestinationFolder& destination)
    : destination_(destination) {
    const int record = ::openat(destination.descriptor(), ReplacementRecordName,
                                O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (record < 0) {
        failSystem(ReplacementRecordName, "create the file", errno);
    }
    ::close(record);
}

ReplacementRecord::~ReplacementRecord() {
    ::unlinkat(destination_.descriptor(), ReplacementRecordName, 0);
}

} // namespace Core::Unpack

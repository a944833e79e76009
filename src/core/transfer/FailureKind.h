#pragma once

#include "platform/Error.h"

#include <string>

namespace Core::Transfer {

// What went wrong with a release, in the terms a player can act on. Front ends turn it into
// their own words; the error value itself stays as it is for reports.
enum class FailureKind {
    Other,
    HostUnreachable, // refused, or no route to it
    NameNotFound,    // the host name does not resolve
    TimedOut,        // connecting, or the host stopped sending
    InsecureConnection,
    HttpStatus,
    DiskFull,
    NotVerified, // signature or checksum refused
    InstallBusy,
    OlderRelease, // a signed release older than one this install accepted
};

FailureKind failureKind(const Error& error);

// The host part of an address ("releases.example.com"), or the whole text when it has none.
std::string hostOf(const std::string& address);

} // namespace Core::Transfer

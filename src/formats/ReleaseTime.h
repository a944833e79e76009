#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// The moment a release was published, as the manifest's "released" key states it: UTC to the
// second, written "2026-12-07T00:26:33Z". A plain value: later moments compare greater. Pure
// functions; any thread.
using ReleaseTime = std::chrono::sys_seconds;

// Reads exactly that form: a four-digit year, then two digits each for month, day, hour, minute
// and second, a date that exists, an hour below 24, a second below 60, and "T" and "Z" in
// capitals. Anything else gives nothing.
std::optional<ReleaseTime> parseReleaseTime(std::string_view text);

// The form parseReleaseTime reads, for years 0 to 9999.
std::string formatReleaseTime(ReleaseTime time);

// Whether a release published at `offered` is older than the newest one an install has
// accepted, so taking it would roll the install back. Nothing is older before any release was
// accepted; once one was, a release that does not say when it was published is older too. The
// same moment is not older: it is the same release checked again.
bool isOlderRelease(const std::optional<ReleaseTime>& offered,
                    const std::optional<ReleaseTime>& newestAccepted);

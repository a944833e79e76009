#pragma once

#include "platform/Error.h"

#include <chrono>
#include <stop_token>

// Which download failures are worth another attempt, and the wait before it.
namespace Core::Transfer {

// True for failures that another attempt may well not meet: the connection lost, refused or
// timed out, a body cut short, a server error (HTTP status 500 or above, given as
// `httpStatus`). False for everything that would fail the same way again: a refused address,
// HTTP 4xx, a wrong body, file-system errors, a stop request.
bool isTransient(const Error& error, long httpStatus);

// Sleeps for `delay` unless `stop` is requested first, which ends the wait at once. Returns
// false when stopped.
bool waitUnlessStopped(std::chrono::milliseconds delay, std::stop_token stop);

} // namespace Core::Transfer

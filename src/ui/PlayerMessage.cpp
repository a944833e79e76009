#include "ui/PlayerMessage.h"

#include "core/transfer/FailureKind.h"

#include <cctype>
#include <cstring>

using Core::Transfer::FailureKind;

namespace {

// The status number at the end of an HTTP failure's message, or empty when there is none.
std::string trailingNumber(const std::string& text) {
    std::size_t start = text.size();
    while (start > 0 && std::isdigit(static_cast<unsigned char>(text[start - 1]))) {
        --start;
    }
    return text.substr(start);
}

} // namespace

std::string playerMessage(const Error& error, const std::string& host) {
    switch (Core::Transfer::failureKind(error)) {
    case FailureKind::HostUnreachable:
        return "Cannot reach " + host + " \u2014 check your internet connection.";
    case FailureKind::NameNotFound:
        return "Cannot find " + host + " \u2014 check your internet connection.";
    case FailureKind::TimedOut:
        return host + " is not answering \u2014 try again later.";
    case FailureKind::InsecureConnection:
        return "The secure connection to " + host + " failed \u2014 check the date and time.";
    case FailureKind::HttpStatus: {
        const std::string status = trailingNumber(error.localizedMessage());
        return host + " answered with an error" + (status.empty() ? "" : " (" + status + ")") +
               " \u2014 try again later.";
    }
    case FailureKind::DiskFull:
        return error.is(AmCode::NotEnoughSpace) ? error.localizedMessage()
                                                : "Not enough disk space.";
    case FailureKind::NotVerified:
        return "The release could not be verified and was not installed.";
    case FailureKind::InstallBusy:
        return "Another launcher is updating the game \u2014 try again when it is done.";
    case FailureKind::OlderRelease:
        return host + " offered an older release than one you already had \u2014 it was not "
                      "installed.";
    case FailureKind::Other:
        break;
    }
    return error.localizedMessage();
}

std::string launchFailureMessage(const Error& error, const std::filesystem::path& executable) {
    const std::string reason =
        error.domain() == "posix" ? std::strerror(error.code()) : error.localizedMessage();
    return executable.filename().string() + ": " + reason;
}

#pragma once

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The program's own error codes, domain "am". Stored files, release hosts and scripts that read
// the self-check's report see these numbers, so they never change meaning.
enum class AmCode : int {
    BadAddress = 1,           // address text does not parse; nothing was sent
    UnpackFailed = 2,         // "ditto failed with status 1", the reason as detail
    NoArchiveAddress = 3,     // "manifest has no macurl" (or "version/url" where both are needed)
    MissingBundle = 4,        // "download did not contain " + exe
    HttpStatus = 5,           // "download failed with HTTP status " + n
    ChecksumMismatch = 6,     // "download checksum mismatch"
    UnsupportedAddress = 7,   // "unsupported address: " + address
    UnsafeBundleName = 8,     // "manifest has an unsafe macexe"
    NotEnoughSpace = 9,       // "not enough disk space: …"
    BadSignature = 10,        // "release signature is not valid"
    InstallLocked = 11,       // "another launcher is updating this install"
    ReleaseFileTooLarge = 12, // "release file too large"
    OlderRelease = 13,        // "release is older than one already accepted"
};

// One error value for the whole program: a domain, a code, an optional one-line message and an
// optional underlying detail. The program's own errors use domain "am"; platform errors keep
// their own domain ("curl" with the CURLcode, "posix" with errno) and text. Thrown by value;
// cheap to copy.
class Error : public std::exception {
public:
    Error(std::string domain, int code, std::optional<std::string> message = std::nullopt,
          std::optional<std::string> detail = std::nullopt);

    static Error am(AmCode code, std::optional<std::string> message = std::nullopt,
                    std::optional<std::string> detail = std::nullopt);
    // A file-system failure: errno and a message that names the path, e.g.
    // "cannot create folder /x/y: Permission denied".
    static Error posix(int errnum, std::string_view action, const std::filesystem::path& path);

    const std::string& domain() const { return domain_; }
    int code() const { return code_; }
    const std::optional<std::string>& message() const { return message_; }
    const std::optional<std::string>& detail() const { return detail_; }
    bool is(AmCode amCode) const;

    // What the window shows: the message, or the platform's generic sentence when there is none.
    std::string localizedMessage() const;
    // What the self-check prints after "FAIL: ":
    // Error Domain=am Code=2 "ditto failed with status 1" (detail)
    std::string fullDescription() const;
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::string domain_;
    int code_;
    std::optional<std::string> message_;
    std::optional<std::string> detail_;
    std::string description_;
};

// The exception being handled, as an Error: an Error as it is, any other exception in the domain
// "std" with code 0 and its what() as the message. Call inside a catch block only.
Error currentError();

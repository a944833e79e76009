#include "platform/Error.h"

#include <cstring>
#include <utility>

Error::Error(std::string domain, int code, std::optional<std::string> message,
             std::optional<std::string> detail)
    : domain_(std::move(domain)), code_(code), message_(std::move(message)),
      detail_(std::move(detail)) {
    description_ = fullDescription();
}

Error Error::am(AmCode code, std::optional<std::string> message,
                std::optional<std::string> detail) {
    return Error("am", static_cast<int>(code), std::move(message), std::move(detail));
}

Error Error::posix(int errnum, std::string_view action, const std::filesystem::path& path) {
    std::string text = "cannot ";
    text.append(action)
        .append(" ")
        .append(path.string())
        .append(": ")
        .append(std::strerror(errnum));
    return Error("posix", errnum, std::move(text));
}

bool Error::is(AmCode amCode) const {
    return domain_ == "am" && code_ == static_cast<int>(amCode);
}

std::string Error::localizedMessage() const {
    if (message_) {
        return *message_;
    }
    return "The operation couldn\u2019t be completed. (" + domain_ + " error " +
           std::to_string(code_) + ".)";
}

std::string Error::fullDescription() const {
    std::string text = "Error Domain=" + domain_ + " Code=" + std::to_string(code_);
    if (message_) {
        text += " \"" + *message_ + "\"";
    }
    if (detail_) {
        text += " (" + *detail_ + ")";
    }
    return text;
}

Error currentError() {
    try {
        throw;
    } catch (const Error& error) {
        return error;
    } catch (const std::exception& error) {
        return Error("std", 0, error.what());
    } catch (...) {
        return Error("std", 0, "unknown exception");
    }
}

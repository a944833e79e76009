#pragma once

#include <string>

namespace Core::Transfer {

// Whether the text parses as an absolute address (scheme and host), by the same URL parser the
// transfers use. Says nothing about whether the scheme is allowed.
bool isValidAddress(const std::string& address);

} // namespace Core::Transfer

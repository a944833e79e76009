#pragma once

#include <span>
#include <string_view>

enum class Mode { Window, SelfCheck };

// The self-check runs when any argument, the program path included, is exactly "--cli"
// (byte for byte). Every other argument is ignored.
Mode selectMode(std::span<const char* const> arguments);

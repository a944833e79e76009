#include "app/ModeSelection.h"

#include <algorithm>

Mode selectMode(std::span<const char* const> arguments) {
    const bool selfCheck = std::any_of(arguments.begin(), arguments.end(), [](const char* arg) {
        return arg != nullptr && std::string_view(arg) == "--cli";
    });
    return selfCheck ? Mode::SelfCheck : Mode::Window;
}

#pragma once

#include "platform/Error.h"

#include <gtest/gtest.h>

#include <utility>

// The Error that `action` throws; a test failure (and a placeholder error) when it throws none.
template <typename Action> Error thrownError(Action&& action) {
    try {
        std::forward<Action>(action)();
    } catch (const Error& error) {
        return error;
    }
    ADD_FAILURE() << "expected an Error, none was thrown";
    return Error("none", 0);
}

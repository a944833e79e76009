#pragma once

#include "platform/Error.h"

#include <gtest/gtest.h>

// The Error a call throws; records a test failure (and returns a blank error) when it throws
// nothing.
template <typename Call> Error errorOf(Call call) {
    try {
        call();
    } catch (const Error& error) {
        return error;
    }
    ADD_FAILURE() << "no error thrown";
    return Error("none", 0);
}

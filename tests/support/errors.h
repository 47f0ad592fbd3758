#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "common/run_time_error.h"

namespace glove::test {

// The number of the run-time error the action raises; a test failure if it raises none.
inline ErrorNumber errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const RunTimeError& e) {
        return e.number();
    }
    ADD_FAILURE() << "no run-time error was raised";
    return ErrorNumber{};
}

}  // namespace glove::test

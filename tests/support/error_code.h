#pragma once

#include <chrono>
#include <string>

#include "core/transport/error.h"

namespace kova::test {

/// The code of the kova::Error `operation` throws, or "" when it throws none.
template <typename Operation>
std::string code_of(Operation&& operation) {
    try {
        operation();
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

/// Whole milliseconds since `since` on the steady clock.
inline long long elapsed_ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}

}  // namespace kova::test

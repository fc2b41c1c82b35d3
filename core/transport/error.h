#pragma once

#include <stdexcept>
#include <string>

namespace kova {

/// The core's failure: what() is a snake_case machine code such as "usb_detached".
class Error : public std::runtime_error {
public:
    /// Builds an error carrying `code` unchanged as its text.
    explicit Error(const std::string& code) : std::runtime_error(code) {}
    /// Builds an error from a literal code.
    explicit Error(const char* code) : std::runtime_error(code) {}
};

}  // namespace kova

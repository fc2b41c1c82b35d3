#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>
#include <string>

namespace kova::test {

/// A private directory holding a usbmux socket path, with USBMUXD_SOCKET_ADDRESS pointing at it
/// ("UNIX:<path>") for the object's lifetime; the previous value is restored afterwards.
/// Header-only so that tests linking only libkova.so can use it.
class UsbmuxSocketDir {
  public:
    UsbmuxSocketDir() {
        char pattern[] = "/tmp/kova-usbmux-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        dir_ = pattern;
        path_ = dir_ + "/usbmuxd";
        if (const char* previous = ::getenv(kVariable)) {
            previous_ = previous;
        }
        ::setenv(kVariable, ("UNIX:" + path_).c_str(), 1);
    }
    ~UsbmuxSocketDir() {
        if (previous_) {
            ::setenv(kVariable, previous_->c_str(), 1);
        } else {
            ::unsetenv(kVariable);
        }
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    UsbmuxSocketDir(const UsbmuxSocketDir&) = delete;
    UsbmuxSocketDir& operator=(const UsbmuxSocketDir&) = delete;

    /// The socket path the variable names (nothing listens there until a server binds it).
    const std::string& path() const { return path_; }

  private:
    static constexpr const char* kVariable = "USBMUXD_SOCKET_ADDRESS";
    std::string dir_;
    std::string path_;
    std::optional<std::string> previous_;
};

}  // namespace kova::test

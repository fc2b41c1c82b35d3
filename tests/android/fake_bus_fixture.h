#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "core/transport/error.h"
#include "core/transport/interrupt.h"
#include "tests/support/fake_libusb/fake_usb_bus.h"

namespace kova::fakeusb {

inline void PrintTo(const Outstanding& o, std::ostream* out) {
    *out << "{contexts " << o.contexts << ", device_refs " << o.device_refs << ", handles "
         << o.handles << ", claimed " << o.claimed << ", configs " << o.configs << ", transfers "
         << o.transfers << "}";
}

}  // namespace kova::fakeusb

namespace kova::test {

/// Every test starts on an empty bus with the interrupt flag clear.
class FakeBusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fakeusb::Bus::instance().reset();
        kova::interrupted = 0;
    }
    void TearDown() override {
        kova::interrupted = 0;
        fakeusb::Bus::instance().reset();
    }
    static fakeusb::Bus& bus() { return fakeusb::Bus::instance(); }

    /// The code `action` throws as kova::Error, or "" when it returns.
    static std::string code_of(const std::function<void()>& action) {
        try {
            action();
        } catch (const Error& error) {
            return error.what();
        }
        return "";
    }
};

}  // namespace kova::test

#pragma once

#include <cstdint>

struct libusb_context;
struct libusb_device_handle;

namespace kova {

/// Runs one asynchronous bulk transfer on `endpoint`, pumping `context`'s events on the
/// calling thread in 100 ms slices so that `interrupted` cancels it promptly. Returns the
/// number of bytes moved; a time-out is an error unless `allow_timeout` or bytes moved.
int bulk_transfer(libusb_context* context, libusb_device_handle* handle, uint8_t endpoint,
                  uint8_t* buffer, int length, unsigned timeout_ms, bool allow_timeout);

}  // namespace kova

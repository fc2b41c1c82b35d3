#pragma once

namespace kova {

/// Passes a non-negative libusb result through; a negative one throws kova::Error with the
/// code `what` + ": " + libusb's name for the error.
int usb_ok(int result, const char* what);

}  // namespace kova

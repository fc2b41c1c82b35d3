#include "core/transport/usb_ok.h"

#include <libusb.h>

#include <string>

#include "core/transport/error.h"

namespace kova {

int usb_ok(int result, const char* what) {
    if (result < 0) {
        throw Error(std::string(what) + ": " + libusb_error_name(result));
    }
    return result;
}

}  // namespace kova

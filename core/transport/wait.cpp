#include "core/transport/wait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "core/transport/error.h"
#include "core/transport/interrupt.h"

namespace kova {

bool wait(int fd, short events, long long timeout_ms) {
    long long remaining = timeout_ms;
    for (;;) {
        const long long slice = std::clamp(remaining, 0LL, 100LL);
        pollfd entry{fd, events, 0};
        int ready;
        do {
            if (is_interrupted()) {
                throw Error("usb_transfer_cancelled");
            }
            ready = ::poll(&entry, 1, static_cast<int>(slice));
        } while (ready < 0 && errno == EINTR);
        if (ready < 0) {
            throw Error("usbmux_poll");
        }
        if (ready > 0) {
            if (entry.revents & (POLLERR | POLLNVAL)) {
                throw Error("usb_detached");
            }
            return true;
        }
        remaining -= slice;
        if (remaining < 1) {
            return false;
        }
    }
}

}  // namespace kova

#include "core/transport/bulk_transfer.h"

#include <libusb.h>

#include <memory>
#include <string>

#include "core/transport/error.h"
#include "core/transport/interrupt.h"
#include "core/transport/usb_ok.h"

namespace kova {
namespace {

// Filled by the completion callback, which libusb calls from inside event handling on
// this same thread.
struct Completion {
    int done = 0;
    int status = LIBUSB_TRANSFER_ERROR;
    int actual_length = 0;
};

void LIBUSB_CALL on_complete(libusb_transfer* transfer) {
    auto* completion = static_cast<Completion*>(transfer->user_data);
    completion->status = transfer->status;
    completion->actual_length = transfer->actual_length;
    completion->done = 1;
}

struct TransferDeleter {
    void operator()(libusb_transfer* transfer) const { libusb_free_transfer(transfer); }
};

// A cancelled transfer still completes through the callback, so keep pumping until then.
void pump_until_done(libusb_context* context, libusb_transfer* transfer, Completion& completion) {
    bool cancelled = false;
    auto cancel_once = [&] {
        if (!cancelled) {
            libusb_cancel_transfer(transfer);
            cancelled = true;
        }
    };
    while (!completion.done) {
        if (is_interrupted()) {
            cancel_once();
        }
        timeval slice{0, 100000};
        const int result =
            libusb_handle_events_timeout_completed(context, &slice, &completion.done);
        if (result < 0 && result != LIBUSB_ERROR_INTERRUPTED) {
            cancel_once();
        }
    }
}

int map_status(const Completion& completion, bool allow_timeout) {
    switch (completion.status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return completion.actual_length;
        case LIBUSB_TRANSFER_TIMED_OUT:
            if (allow_timeout || completion.actual_length > 0) {
                return completion.actual_length;
            }
            throw Error("bulk_write_timeout_check_android_unlocked_and_usb_permission");
        case LIBUSB_TRANSFER_CANCELLED:
            throw Error("usb_transfer_cancelled");
        case LIBUSB_TRANSFER_STALL:
            throw Error("usb_endpoint_stalled");
        case LIBUSB_TRANSFER_NO_DEVICE:
            throw Error("usb_detached");
        default:
            throw Error("bulk_transfer_status_" + std::to_string(completion.status));
    }
}

}  // namespace

int bulk_transfer(libusb_context* context, libusb_device_handle* handle, uint8_t endpoint,
                  uint8_t* buffer, int length, unsigned timeout_ms, bool allow_timeout) {
    std::unique_ptr<libusb_transfer, TransferDeleter> transfer(libusb_alloc_transfer(0));
    if (!transfer) {
        throw Error("transfer_allocation_failed");
    }
    Completion completion;
    libusb_fill_bulk_transfer(transfer.get(), handle, endpoint, buffer, length, on_complete,
                              &completion, timeout_ms);
    // A phone unplugged between two transfers is the same unplug as one during a transfer.
    const int submitted = libusb_submit_transfer(transfer.get());
    if (submitted == LIBUSB_ERROR_NO_DEVICE) {
        throw Error("usb_detached");
    }
    usb_ok(submitted, "submit_bulk");
    pump_until_done(context, transfer.get(), completion);
    if (completion.actual_length < 0 || completion.actual_length > length) {
        throw Error("invalid_actual_length");
    }
    return map_status(completion, allow_timeout);
}

}  // namespace kova

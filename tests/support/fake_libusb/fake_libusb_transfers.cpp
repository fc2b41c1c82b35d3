// libusb-1.0's asynchronous transfers and event handling, served from the emulated bus: bulk
// OUT bytes go to the phone's data line, bulk IN bytes come from it.

#include <libusb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "tests/support/fake_libusb/fake_usb_state.h"

using kova::fakeusb::BulkFault;
using kova::fakeusb::bus_state;
using kova::fakeusb::Clock;
using kova::fakeusb::Pending;
using kova::fakeusb::PhoneState;

namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(5);

PhoneState& phone_of(const libusb_transfer* transfer) {
    return *transfer->dev_handle->device->incarnation->phone;
}

bool is_in(const libusb_transfer* transfer) {
    return (transfer->endpoint & LIBUSB_ENDPOINT_IN) != 0;
}

// Moves what the phone accepts now; true when the whole buffer went.
bool send_some(libusb_transfer* transfer, PhoneState& phone) {
    int room = transfer->length - transfer->actual_length;
    if (phone.fault == BulkFault::locked) {
        room = 0;
    } else if (phone.fault == BulkFault::partial_then_timeout) {
        room = std::min(room, phone.partial_budget);
    }
    if (room > 0) {
        const ssize_t sent = ::send(phone.desktop_fd, transfer->buffer + transfer->actual_length,
                                    static_cast<size_t>(room), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            transfer->actual_length += static_cast<int>(sent);
            if (phone.fault == BulkFault::partial_then_timeout) {
                phone.partial_budget -= static_cast<int>(sent);
            }
        } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
            phone.line_closed = true;
        }
    }
    return transfer->actual_length == transfer->length;
}

// Takes what the phone has sent; true when something arrived.
bool receive_some(libusb_transfer* transfer, PhoneState& phone) {
    if (phone.line_closed) {
        return false;
    }
    const ssize_t received = ::recv(phone.desktop_fd, transfer->buffer,
                                    static_cast<size_t>(transfer->length), MSG_DONTWAIT);
    if (received > 0) {
        transfer->actual_length = static_cast<int>(received);
        return true;
    }
    if (received == 0) {
        // The emulator closed its end: nothing will ever arrive again.
        phone.line_closed = true;
    }
    return false;
}

// The status `transfer` ends with now, or -1 while it is still running.
int settle(libusb_transfer* transfer, const Pending& pending, Clock::time_point now) {
    PhoneState& phone = phone_of(transfer);
    if (transfer->dev_handle->device->incarnation->gone) {
        return LIBUSB_TRANSFER_NO_DEVICE;
    }
    if (pending.cancelled) {
        return LIBUSB_TRANSFER_CANCELLED;
    }
    if (phone.fault == BulkFault::stall) {
        return LIBUSB_TRANSFER_STALL;
    }
    if (is_in(transfer) ? receive_some(transfer, phone) : send_some(transfer, phone)) {
        return LIBUSB_TRANSFER_COMPLETED;
    }
    if (!is_in(transfer) && phone.line_closed) {
        return LIBUSB_TRANSFER_ERROR;
    }
    if (pending.has_deadline && now >= pending.deadline) {
        return LIBUSB_TRANSFER_TIMED_OUT;
    }
    return -1;
}

std::vector<libusb_transfer*> settle_all(libusb_context* context) {
    std::lock_guard lock(bus_state().mutex);
    std::vector<libusb_transfer*> finished;
    const auto now = Clock::now();
    for (auto it = context->pending.begin(); it != context->pending.end();) {
        const int status = settle(it->first, it->second, now);
        if (status < 0) {
            ++it;
            continue;
        }
        it->first->status = static_cast<libusb_transfer_status>(status);
        finished.push_back(it->first);
        it = context->pending.erase(it);
    }
    return finished;
}

// Sleeps until a running transfer may progress or time out, at most `limit`.
void wait_for_line(libusb_context* context, Clock::duration limit) {
    std::vector<pollfd> fds;
    auto wait = std::min<Clock::duration>(limit, kWaitSlice);
    {
        std::lock_guard lock(bus_state().mutex);
        const auto now = Clock::now();
        for (const auto& [transfer, pending] : context->pending) {
            if (pending.has_deadline) {
                wait = std::clamp<Clock::duration>(pending.deadline - now, Clock::duration::zero(),
                                                   wait);
            }
            const PhoneState& phone = phone_of(transfer);
            const bool out_blocked =
                phone.fault == BulkFault::locked ||
                (phone.fault == BulkFault::partial_then_timeout && phone.partial_budget == 0);
            if (phone.line_closed || (!is_in(transfer) && out_blocked)) {
                continue;
            }
            fds.push_back(
                {phone.desktop_fd, static_cast<short>(is_in(transfer) ? POLLIN : POLLOUT), 0});
        }
    }
    if (fds.empty()) {
        std::this_thread::sleep_for(wait);
        return;
    }
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    const timespec timeout{static_cast<time_t>(nanos / 1'000'000'000), nanos % 1'000'000'000};
    ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
}

int take_event_failure() {
    std::lock_guard lock(bus_state().mutex);
    if (bus_state().failing_events == 0) {
        return 0;
    }
    --bus_state().failing_events;
    return bus_state().event_error;
}

}  // namespace

libusb_transfer* libusb_alloc_transfer(int iso_packets) {
    if (iso_packets != 0) {
        return nullptr;
    }
    std::lock_guard lock(bus_state().mutex);
    ++bus_state().outstanding.transfers;
    return new libusb_transfer{};
}

void libusb_free_transfer(libusb_transfer* transfer) {
    if (transfer == nullptr) {
        return;
    }
    std::lock_guard lock(bus_state().mutex);
    --bus_state().outstanding.transfers;
    delete transfer;
}

int libusb_submit_transfer(libusb_transfer* transfer) {
    std::lock_guard lock(bus_state().mutex);
    libusb_device_handle* handle = transfer->dev_handle;
    if (transfer->type != LIBUSB_TRANSFER_TYPE_BULK) {
        return LIBUSB_ERROR_NOT_SUPPORTED;
    }
    if (handle->device->incarnation->gone) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    if (handle->claimed.empty()) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    if (handle->context->pending.count(transfer) != 0) {
        return LIBUSB_ERROR_BUSY;
    }
    Pending pending;
    pending.has_deadline = transfer->timeout != 0;
    pending.deadline = Clock::now() + std::chrono::milliseconds(transfer->timeout);
    transfer->actual_length = 0;
    handle->context->pending[transfer] = pending;
    return LIBUSB_SUCCESS;
}

int libusb_cancel_transfer(libusb_transfer* transfer) {
    std::lock_guard lock(bus_state().mutex);
    auto& pending = transfer->dev_handle->context->pending;
    const auto it = pending.find(transfer);
    if (it == pending.end()) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    it->second.cancelled = true;
    return LIBUSB_SUCCESS;
}

int libusb_handle_events_timeout_completed(libusb_context* context, timeval* tv, int* completed) {
    if (const int failure = take_event_failure(); failure != 0) {
        return failure;
    }
    const auto end =
        Clock::now() + std::chrono::seconds(tv->tv_sec) + std::chrono::microseconds(tv->tv_usec);
    for (;;) {
        const auto finished = settle_all(context);
        for (libusb_transfer* transfer : finished) {
            transfer->callback(transfer);
        }
        const auto now = Clock::now();
        if (!finished.empty() || (completed != nullptr && *completed != 0) || now >= end) {
            return LIBUSB_SUCCESS;
        }
        wait_for_line(context, end - now);
    }
}

int libusb_handle_events_timeout(libusb_context* context, timeval* tv) {
    return libusb_handle_events_timeout_completed(context, tv, nullptr);
}

int libusb_handle_events_completed(libusb_context* context, int* completed) {
    timeval tv{60, 0};
    return libusb_handle_events_timeout_completed(context, &tv, completed);
}

int libusb_handle_events(libusb_context* context) {
    return libusb_handle_events_completed(context, nullptr);
}

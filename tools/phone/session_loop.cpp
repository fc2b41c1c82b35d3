#include "tools/phone/session_loop.h"

#include <poll.h>

#include <atomic>
#include <exception>
#include <iostream>
#include <optional>
#include <thread>

#include "core/protocol/json_payload.h"

namespace kova::phone {
namespace {

constexpr int kSignalSliceMs = 50;

// Applies a pending SIGUSR1/SIGUSR2; true when the app has just been closed.
bool switch_app(Acceptor& acceptor, SignalWatch& signals) {
    const std::optional<bool> open = signals.take_app_switch();
    if (open) {
        acceptor.set_app_open(*open);
    }
    return open == false;
}

// Serves `fd` on a thread of its own so that a signal can stop it, or close the app under it.
PhoneSummary serve_one(const PhoneOptions& options, int fd, Acceptor& acceptor,
                       SignalWatch& signals) {
    PhoneApp app(options);
    std::atomic<bool> done{false};
    PhoneSummary summary;
    std::exception_ptr failure;
    std::thread server([&] {
        try {
            summary = app.serve(fd);
        } catch (...) {
            failure = std::current_exception();
        }
        done.store(true, std::memory_order_release);
    });
    while (!done.load(std::memory_order_acquire)) {
        if (signals.wait(kSignalSliceMs)) {
            app.stop();
            break;
        }
        if (switch_app(acceptor, signals)) {
            app.stop();
        }
    }
    server.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return summary;
}

// Waits until the acceptor is readable; false when a signal came first.
bool wait_for_desktop(Acceptor& acceptor, SignalWatch& signals) {
    for (;;) {
        pollfd entries[2] = {{acceptor.fd(), POLLIN, 0}, {signals.fd(), POLLIN, 0}};
        const int ready = ::poll(entries, 2, kSignalSliceMs);
        if (signals.wait(0)) {
            return false;
        }
        switch_app(acceptor, signals);
        if (ready > 0 && (entries[0].revents & POLLIN)) {
            return true;
        }
    }
}

}  // namespace

int serve_sessions(Acceptor& acceptor, const PhoneOptions& options, uint64_t max_sessions,
                   SignalWatch& signals, std::ostream& out) {
    uint64_t served = 0;
    while (max_sessions == 0 || served < max_sessions) {
        if (!wait_for_desktop(acceptor, signals)) {
            break;
        }
        const int fd = acceptor.accept_session();
        if (fd < 0) {
            continue;
        }
        try {
            out << json_text(serve_one(options, fd, acceptor, signals).to_json()) << std::endl;
        } catch (const std::exception& error) {
            std::cerr << "kova-phone: " << error.what() << std::endl;
            return 1;
        }
        ++served;
        if (signals.wait(0)) {
            break;
        }
    }
    return 0;
}

}  // namespace kova::phone

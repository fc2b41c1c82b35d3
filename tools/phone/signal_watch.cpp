#include "tools/phone/signal_watch.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <utility>

#include "core/transport/error.h"

namespace kova::phone {

SignalWatch::SignalWatch() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    // A shell without job control starts background programs with SIGINT ignored; an
    // ignored signal is never queued, and the emulator must end on it all the same.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
        throw Error("signalfd");
    }
    fd_ = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) {
        throw Error("signalfd");
    }
}

SignalWatch::~SignalWatch() {
    ::close(fd_);
}

bool SignalWatch::wait(int timeout_ms) {
    if (received_) {
        return true;
    }
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, timeout_ms) <= 0) {
        return false;
    }
    signalfd_siginfo info;
    while (!received_ && ::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGUSR1 || info.ssi_signo == SIGUSR2) {
            app_switch_ = info.ssi_signo == SIGUSR2;
        } else {
            received_ = true;
        }
    }
    return received_;
}

std::optional<bool> SignalWatch::take_app_switch() {
    return std::exchange(app_switch_, std::nullopt);
}

}  // namespace kova::phone

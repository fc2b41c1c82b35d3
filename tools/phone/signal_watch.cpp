#include "tools/phone/signal_watch.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "core/transport/error.h"

namespace kova::phone {

SignalWatch::SignalWatch() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
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
    if (::poll(&entry, 1, timeout_ms) > 0) {
        signalfd_siginfo info;
        received_ = ::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
    }
    return received_;
}

}  // namespace kova::phone

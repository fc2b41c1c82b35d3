#include "tools/phone/usbmux_acceptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

namespace kova::phone {
UsbmuxAcceptor::WakePipe::WakePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error("cannot create a pipe");
    }
    read_end = ends[0];
    write_end = ends[1];
}

UsbmuxAcceptor::WakePipe::~WakePipe() {
    ::close(read_end);
    ::close(write_end);
}

UsbmuxAcceptor::UsbmuxAcceptor(const std::string& socket_path, UsbmuxServerOptions options)
    : server_(socket_path, std::move(options), [this](int tunnel) { hand_over(tunnel); }) {}

UsbmuxAcceptor::~UsbmuxAcceptor() {
    server_.stop();
    for (int tunnel : tunnels_) {
        ::close(tunnel);
    }
}

void UsbmuxAcceptor::hand_over(int tunnel) {
    std::lock_guard lock(mutex_);
    tunnels_.push_back(tunnel);
    const char token = 1;
    (void)!::write(wake_.write_end, &token, 1);
}

int UsbmuxAcceptor::accept_session() {
    char token;
    (void)!::read(wake_.read_end, &token, 1);
    std::lock_guard lock(mutex_);
    if (tunnels_.empty()) {
        return -1;
    }
    const int tunnel = tunnels_.front();
    tunnels_.pop_front();
    return tunnel;
}

void UsbmuxAcceptor::set_app_open(bool open) {
    server_.set_app_open(open);
    if (open) {
        return;
    }
    std::lock_guard lock(mutex_);
    for (int tunnel : tunnels_) {
        ::close(tunnel);
    }
    tunnels_.clear();
}

}  // namespace kova::phone

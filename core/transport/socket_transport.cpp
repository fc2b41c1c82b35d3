#include "core/transport/socket_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "core/transport/error.h"
#include "core/transport/wait.h"

namespace kova {
namespace {

constexpr size_t kReadBytes = 16384;

}  // namespace

SocketTransport::~SocketTransport() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void SocketTransport::adopt(int fd) {
    if (fd < 0 || fd_ >= 0) {
        throw Error("socket_adopt");
    }
    // Linux has no SO_NOSIGPIPE: every send passes MSG_NOSIGNAL instead.
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fcntl(fd, F_SETFL, (flags < 0 ? 0 : flags) | O_NONBLOCK) < 0) {
        throw Error("socket_nonblocking");
    }
    fd_ = fd;
}

void SocketTransport::write(const std::vector<uint8_t>& bytes, unsigned timeout_ms) {
    using Clock = std::chrono::steady_clock;
    if (fd_ < 0) {
        throw Error("not_connected");
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            throw Error(errno == EPIPE || errno == ECONNRESET ? "ios_connection_closed"
                                                              : "usbmux_write");
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
        if (left <= 999'999 || !wait(fd_, POLLOUT, left / 1'000'000)) {
            throw Error("write_timeout");
        }
    }
}

std::vector<uint8_t> SocketTransport::read(unsigned timeout_ms) {
    if (fd_ < 0) {
        throw Error("not_connected");
    }
    if (!wait(fd_, POLLIN, timeout_ms)) {
        return {};
    }
    std::vector<uint8_t> buffer(kReadBytes);
    const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            return {};
        }
        throw Error("usbmux_read");
    }
    if (n == 0) {
        throw Error("ios_connection_closed");
    }
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

std::string SocketTransport::name() const {
    return "socket";
}

}  // namespace kova

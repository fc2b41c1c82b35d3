#include "tools/phone/stream_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kova::phone {
namespace {

constexpr size_t kReadBytes = 16384;
constexpr size_t kWriteChunk = 65536;

bool would_block(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

}  // namespace

StreamSocket::StreamSocket(int fd) : fd_(fd) {
    const int flags = ::fcntl(fd_, F_GETFL);
    // A descriptor that is not open has nothing to serve.
    ended_ = flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) < 0;
}

StreamSocket::~StreamSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void StreamSocket::queue(const std::vector<uint8_t>& bytes) {
    if (!close_requested_) {
        outbox_.insert(outbox_.end(), bytes.begin(), bytes.end());
    }
}

void StreamSocket::close_after_flush() {
    close_requested_ = true;
}

void StreamSocket::flush() {
    uint8_t chunk[kWriteChunk];
    while (!outbox_.empty() && !ended_) {
        const size_t count = std::min(outbox_.size(), kWriteChunk);
        std::copy_n(outbox_.begin(), count, chunk);
        // MSG_NOSIGNAL: a desktop that has gone away must give EPIPE, not kill the emulator.
        const ssize_t sent = ::send(fd_, chunk, count, MSG_NOSIGNAL);
        if (sent < 0) {
            if (!would_block(errno)) {
                ended_ = true;
            }
            return;
        }
        outbox_.erase(outbox_.begin(), outbox_.begin() + sent);
    }
    if (outbox_.empty() && close_requested_ && !write_closed_) {
        ::shutdown(fd_, SHUT_WR);
        write_closed_ = true;
    }
}

std::vector<uint8_t> StreamSocket::exchange(int timeout_ms) {
    flush();
    if (ended_) {
        return {};
    }
    pollfd entry{fd_, POLLIN, 0};
    if (!outbox_.empty()) {
        entry.events |= POLLOUT;
    }
    const int ready = ::poll(&entry, 1, std::max(timeout_ms, 0));
    if (ready <= 0) {
        return {};
    }
    if (entry.revents & POLLNVAL) {
        ended_ = true;
        return {};
    }
    if (entry.revents & POLLOUT) {
        flush();
    }
    if (!(entry.revents & (POLLIN | POLLHUP | POLLERR))) {
        return {};
    }
    std::vector<uint8_t> buffer(kReadBytes);
    const ssize_t received = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (received < 0) {
        if (!would_block(errno)) {
            ended_ = true;
        }
        return {};
    }
    if (received == 0) {
        ended_ = true;
    }
    buffer.resize(static_cast<size_t>(received));
    return buffer;
}

}  // namespace kova::phone

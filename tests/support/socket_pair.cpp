#include "tests/support/socket_pair.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace kova::test {

namespace {

// A TCP connection over loopback on a port the system chose: {client, accepted peer}.
void connect_loopback(int (&fds)[2]) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    fds[0] = ::socket(AF_INET, SOCK_STREAM, 0);
    const bool ok = listener >= 0 && fds[0] >= 0 &&
                    ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                    ::listen(listener, 1) == 0 &&
                    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                    ::connect(fds[0], reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                    (fds[1] = ::accept(listener, nullptr, nullptr)) >= 0;
    if (listener >= 0) {
        ::close(listener);
    }
    if (!ok) {
        throw std::runtime_error("loopback connection failed");
    }
}

}  // namespace

SocketPair::SocketPair(Kind kind) : fds_{-1, -1} {
    if (kind == Kind::loopback_tcp) {
        connect_loopback(fds_);
    } else if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_) != 0) {
        throw std::runtime_error("socketpair failed");
    }
}

SocketPair::~SocketPair() {
    for (int fd : fds_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

int SocketPair::release_near() {
    const int fd = fds_[0];
    fds_[0] = -1;
    return fd;
}

void SocketPair::close_far() {
    if (fds_[1] >= 0) {
        ::close(fds_[1]);
        fds_[1] = -1;
    }
}

void SocketPair::shrink_buffers() {
    const int size = 4096;
    for (int fd : fds_) {
        if (fd >= 0) {
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
    }
}

}  // namespace kova::test

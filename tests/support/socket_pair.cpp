#include "tests/support/socket_pair.h"

#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace kova::test {

SocketPair::SocketPair() {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_) != 0) {
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

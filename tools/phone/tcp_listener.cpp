#include "tools/phone/tcp_listener.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "core/transport/error.h"

namespace kova::phone {
namespace {

struct AddressListFree {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

std::unique_ptr<addrinfo, AddressListFree> resolve(const std::string& host_port) {
    const size_t colon = host_port.rfind(':');
    if (colon == std::string::npos || colon + 1 == host_port.size()) {
        throw Error("listen_address");
    }
    std::string host = host_port.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string port = host_port.substr(colon + 1);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &list) != 0) {
        throw Error("listen_address");
    }
    return std::unique_ptr<addrinfo, AddressListFree>(list);
}

int bound_port(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

}  // namespace

TcpListener::TcpListener(const std::string& host_port) {
    const auto addresses = resolve(host_port);
    for (addrinfo* entry = addresses.get(); entry != nullptr; entry = entry->ai_next) {
        const int fd = ::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, entry->ai_addr, entry->ai_addrlen) == 0 && ::listen(fd, 4) == 0) {
            fd_ = fd;
            port_ = bound_port(fd);
            return;
        }
        ::close(fd);
    }
    throw Error("listen_failed");
}

TcpListener::~TcpListener() {
    ::close(fd_);
}

int TcpListener::accept_session() {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0 && !app_open_) {
        ::close(fd);
        return -1;
    }
    if (fd >= 0) {
        // Small control messages must not wait for Nagle's algorithm.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

}  // namespace kova::phone

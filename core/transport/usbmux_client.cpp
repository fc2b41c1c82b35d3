#include "core/transport/usbmux_client.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/transport/error.h"

namespace kova::usbmux {
namespace {

constexpr const char* kDefaultSocket = "/var/run/usbmuxd";
constexpr time_t kExchangeTimeoutSeconds = 5;

int connect_unix(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw Error("usbmux_socket");
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        ::close(fd);
        throw Error("usbmuxd_unavailable");
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw Error("usbmuxd_unavailable");
    }
    return fd;
}

// Tries every address the host name resolves to; the first that accepts wins.
int connect_tcp(const std::string& host, const std::string& port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) {
        throw Error("usbmuxd_unavailable");
    }
    int fd = -1;
    bool created = false;
    for (addrinfo* entry = found; entry != nullptr && fd < 0; entry = entry->ai_next) {
        fd = ::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol);
        if (fd < 0) {
            continue;
        }
        created = true;
        if (::connect(fd, entry->ai_addr, entry->ai_addrlen) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        throw Error(created ? "usbmuxd_unavailable" : "usbmux_socket");
    }
    return fd;
}

void set_timeouts(int fd) {
    const timeval limit{kExchangeTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace

DaemonAddress daemon_address() {
    const char* configured = std::getenv("USBMUXD_SOCKET_ADDRESS");
    if (configured == nullptr || *configured == '\0') {
        return {false, kDefaultSocket, ""};
    }
    const std::string value = configured;
    if (value.rfind("UNIX:", 0) == 0) {
        return {false, value.substr(5), ""};
    }
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos) {
        return {false, value, ""};
    }
    std::string host = value.substr(0, colon);
    // An IPv6 literal may be bracketed: [::1]:27015.
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return {true, host, value.substr(colon + 1)};
}

DaemonConnection::DaemonConnection() {
    const DaemonAddress address = daemon_address();
    fd_ = address.tcp ? connect_tcp(address.path, address.port) : connect_unix(address.path);
    set_timeouts(fd_);
}

DaemonConnection::~DaemonConnection() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int DaemonConnection::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

Plist DaemonConnection::exchange(plist_t request) {
    send_all(encode_message(request));
    uint8_t header[kHeaderBytes];
    receive_exact(header, sizeof header);
    const uint32_t length = reply_length(header);
    std::vector<uint8_t> payload(length - kHeaderBytes);
    receive_exact(payload.data(), payload.size());
    return parse_payload(payload.data(), payload.size());
}

void DaemonConnection::send_all(const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw Error("usbmux_write");
        }
        sent += static_cast<size_t>(n);
    }
}

void DaemonConnection::receive_exact(uint8_t* into, size_t size) {
    size_t received = 0;
    while (received < size) {
        const ssize_t n = ::recv(fd_, into + received, size - received, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw Error("usbmux_read");
        }
        received += static_cast<size_t>(n);
    }
}

}  // namespace kova::usbmux

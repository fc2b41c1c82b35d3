// Whatever a desktop sends, the phone emulator must neither crash nor hang: the input is
// one misbehaviour choice followed by the byte stream the emulator receives.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "tools/phone/phone_app.h"

namespace {

constexpr size_t kMaxInput = 65536;

bool write_all(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > kMaxInput) {
        return 0;
    }
    const auto& names = kova::phone::PhoneApp::misbehaviours();
    kova::phone::PhoneOptions options;
    options.status_interval_ms = 1;
    options.keep_samples = false;
    if (data[0] % (names.size() + 1) != 0) {
        options.misbehaviour = names[data[0] % (names.size() + 1) - 1];
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        return 0;
    }
    const int buffer = 4 * static_cast<int>(kMaxInput);
    ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (write_all(fds[0], data + 1, size - 1)) {
        ::shutdown(fds[0], SHUT_WR);
        kova::phone::PhoneApp app(options);
        app.serve(fds[1]);
    } else {
        ::close(fds[1]);
    }
    ::close(fds[0]);
    return 0;
}

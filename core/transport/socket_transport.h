#pragma once

#include "core/transport/transport.h"

namespace kova {

/// A Transport over a connected stream socket, which it owns once adopted.
class SocketTransport : public Transport {
public:
    SocketTransport() = default;
    ~SocketTransport() override;
    SocketTransport(const SocketTransport&) = delete;
    SocketTransport& operator=(const SocketTransport&) = delete;

    /// Takes ownership of a connected socket and makes it non-blocking.
    void adopt(int fd);
    /// Sends all of `bytes` before the deadline, or throws.
    void write(const std::vector<uint8_t>& bytes, unsigned timeout_ms) override;
    /// Returns the bytes of one receive (at most 16384), or none after `timeout_ms`.
    std::vector<uint8_t> read(unsigned timeout_ms) override;
    /// "socket".
    std::string name() const override;

protected:
    /// The owned descriptor, -1 while none is held.
    int fd_ = -1;
};

}  // namespace kova

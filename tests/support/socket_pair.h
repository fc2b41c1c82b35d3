#pragma once

#include <utility>

namespace kova::test {

/// A connected pair of stream sockets, both closed on destruction unless released.
class SocketPair {
  public:
    enum class Kind { unix_stream, loopback_tcp };
    explicit SocketPair(Kind kind = Kind::unix_stream);
    ~SocketPair();
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    /// The descriptor of the desktop's end.
    int near() const { return fds_[0]; }
    /// The descriptor of the peer's end.
    int far() const { return fds_[1]; }
    /// Gives up ownership of the desktop's end (e.g. to a SocketTransport).
    int release_near();
    /// Closes the peer's end now.
    void close_far();
    /// Shrinks both socket buffers so that a peer that stops reading blocks writes quickly.
    void shrink_buffers();

  private:
    int fds_[2];
};

}  // namespace kova::test

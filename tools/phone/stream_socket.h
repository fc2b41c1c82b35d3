#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace kova::phone {

/// A connected byte stream served without blocking: output is queued and flushed while input
/// is read, so a peer that is busy writing can never deadlock the emulator.
class StreamSocket {
  public:
    /// Takes ownership of the connected socket `fd` and makes it non-blocking.
    explicit StreamSocket(int fd);
    /// Closes the socket.
    ~StreamSocket();
    StreamSocket(const StreamSocket&) = delete;
    StreamSocket& operator=(const StreamSocket&) = delete;

    /// Queues `bytes` for sending.
    void queue(const std::vector<uint8_t>& bytes);
    /// Ends the sending direction (an orderly close) once everything queued is sent.
    void close_after_flush();
    /// Waits up to `timeout_ms` for input while flushing output; returns what arrived (maybe
    /// nothing). After the peer has closed or the link failed, returns nothing at once.
    std::vector<uint8_t> exchange(int timeout_ms);
    /// True once the peer has closed its sending direction or the link has failed.
    bool ended() const { return ended_; }
    /// True once the sending direction has been shut down after a close_after_flush().
    bool write_closed() const { return write_closed_; }

  private:
    void flush();

    int fd_;
    std::deque<uint8_t> outbox_;
    bool close_requested_ = false;
    bool write_closed_ = false;
    bool ended_ = false;
};

}  // namespace kova::phone

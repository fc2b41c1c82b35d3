#pragma once

#include <string>

#include "core/transport/usbmux_message.h"

namespace kova::usbmux {

/// Where the daemon listens: a Unix socket path, or a TCP host and port.
struct DaemonAddress {
    bool tcp = false;  ///< true for HOST:PORT
    std::string path;  ///< Unix socket path, or the TCP host
    std::string port;  ///< TCP port (service), empty for a Unix socket
};

/// "/var/run/usbmuxd", unless USBMUXD_SOCKET_ADDRESS says "UNIX:/path" or "HOST:PORT".
DaemonAddress daemon_address();

/// One blocking connection to the daemon, bounded by 5-second socket time-outs.
class DaemonConnection {
  public:
    /// Connects; throws "usbmux_socket" or "usbmuxd_unavailable".
    DaemonConnection();
    /// Closes the socket unless it was released.
    ~DaemonConnection();
    DaemonConnection(const DaemonConnection&) = delete;
    DaemonConnection& operator=(const DaemonConnection&) = delete;

    /// Sends `request` and returns the reply dictionary; throws "usbmux_*" codes.
    Plist exchange(plist_t request);
    /// The socket, still owned by this connection.
    int fd() const { return fd_; }
    /// Gives up ownership of the socket (after "Connect" it carries the tunnel).
    int release();

  private:
    void send_all(const std::vector<uint8_t>& bytes);
    void receive_exact(uint8_t* into, size_t size);

    int fd_ = -1;
};

}  // namespace kova::usbmux

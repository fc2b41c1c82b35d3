#pragma once

#include <string>

#include "tools/phone/acceptor.h"

namespace kova::phone {

/// A listening TCP socket, as the phone app listens for the desktop.
class TcpListener : public Acceptor {
  public:
    /// Listens on "HOST:PORT" (port 0: any free port); throws kova::Error("listen_failed").
    explicit TcpListener(const std::string& host_port);
    /// Closes the socket.
    ~TcpListener() override;
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    /// The port actually bound.
    int port() const { return port_; }
    /// The listening socket.
    int fd() const override { return fd_; }
    /// Accepts one connection; -1 when none was waiting after all, or when the app is closed
    /// (the connection is then closed at once).
    int accept_session() override;
    /// Closes or opens the app.
    void set_app_open(bool open) override { app_open_ = open; }

  private:
    int fd_ = -1;
    int port_ = 0;
    bool app_open_ = true;
};

}  // namespace kova::phone

#pragma once

#include <deque>
#include <mutex>
#include <string>

#include "tools/phone/acceptor.h"
#include "tools/phone/usbmux_server.h"

namespace kova::phone {

/// Sessions that arrive as usbmux tunnels: the stand-in daemon's successful "Connect"s.
class UsbmuxAcceptor : public Acceptor {
  public:
    /// Presents `options` behind a usbmux socket at `socket_path`; throws std::runtime_error.
    UsbmuxAcceptor(const std::string& socket_path, UsbmuxServerOptions options);
    /// Stops the daemon and closes tunnels nobody took.
    ~UsbmuxAcceptor() override;
    UsbmuxAcceptor(const UsbmuxAcceptor&) = delete;
    UsbmuxAcceptor& operator=(const UsbmuxAcceptor&) = delete;

    /// Readable while a tunnel waits to be taken.
    int fd() const override { return wake_.read_end; }
    /// The oldest waiting tunnel, or -1 when none waits.
    int accept_session() override;
    /// Opens or closes the app; closing also drops tunnels nobody took yet.
    void set_app_open(bool open) override;

  private:
    /// A non-blocking pipe whose read end is readable while tunnels wait.
    struct WakePipe {
        WakePipe();
        ~WakePipe();
        WakePipe(const WakePipe&) = delete;
        WakePipe& operator=(const WakePipe&) = delete;
        int read_end = -1;
        int write_end = -1;
    };

    void hand_over(int tunnel);

    WakePipe wake_;
    std::mutex mutex_;
    std::deque<int> tunnels_;
    UsbmuxServer server_;  // last: stopped before the queue it feeds goes away
};

}  // namespace kova::phone

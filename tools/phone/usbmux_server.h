#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace kova::phone {

/// One device the stand-in daemon lists.
struct UsbmuxDevice {
    std::string serial = "00008101-000A1B2C3D4E5F60";  ///< "SerialNumber" (UDID)
    uint16_t product_id = 0x12A8;                      ///< "ProductID"
    uint32_t location_id = (1u << 16) | 4;             ///< "LocationID": bus 1, address 4
    int64_t device_id = 1;                             ///< "DeviceID", the attachment handle
    std::string connection_type = "USB";               ///< "ConnectionType"
    bool trusted = true;                               ///< "ReadPairRecord" returns a record
};

/// A scripted misbehaviour of the stand-in for one request type.
enum class UsbmuxFault {
    none,            ///< answer normally
    result_code,     ///< answer a "Result" with the scripted "Number"
    missing_number,  ///< answer a "Result" without "Number"
    size_15,         ///< a header announcing 15 bytes, and nothing more
    size_oversize,   ///< a header announcing 1048577 bytes, and nothing more
    not_plist,       ///< a payload that is not a property list
    not_dict,        ///< a property list holding an array
    close_early,     ///< close the connection without answering
    never_answer,    ///< keep the connection open and never answer
};

/// Everything the stand-in presents.
struct UsbmuxServerOptions {
    std::vector<UsbmuxDevice> devices{UsbmuxDevice{}};  ///< in "ListDevices" order
    bool app_open = true;  ///< something listens on port 48000 at first
};

/// A stand-in for usbmuxd on a Unix socket: lists emulated devices, answers pairing queries and
/// turns a successful "Connect" into a tunnel handed to `on_tunnel` (e.g. PhoneApp::serve).
class UsbmuxServer {
  public:
    /// Receives the tunnel's socket (owned from then on) on the connection's own thread.
    using TunnelHandler = std::function<void(int fd)>;

    /// Listens on `socket_path` (replacing a stale socket there); throws std::runtime_error.
    UsbmuxServer(std::string socket_path, UsbmuxServerOptions options, TunnelHandler on_tunnel);
    /// Stops serving, waits for the connection threads and removes the socket.
    ~UsbmuxServer();
    UsbmuxServer(const UsbmuxServer&) = delete;
    UsbmuxServer& operator=(const UsbmuxServer&) = delete;

    /// Scripts `fault` for every later request named `message_type` ("Number" `result`).
    void set_fault(const std::string& message_type, UsbmuxFault fault, int64_t result = 0);
    /// Every request received so far, as JSON objects (strings and integers kept).
    std::vector<nlohmann::json> requests() const;
    /// The Unix socket path it listens on.
    const std::string& socket_path() const { return socket_path_; }
    /// Stops accepting and ends every connection still waiting for a request; idempotent.
    void stop();
    /// Opens or closes the phone app: later "Connect"s to its port succeed or are refused.
    void set_app_open(bool open) { app_open_.store(open); }

  private:
    struct Script {
        UsbmuxFault fault = UsbmuxFault::none;
        int64_t result = 0;
    };

    /// What happens to a connection after one answer.
    enum class Next { keep, close, handed_over };

    void accept_loop();
    void serve_connection(int fd);
    Next answer(int fd, const nlohmann::json& request, uint32_t tag);
    Next answer_fault(int fd, const Script& script, uint32_t tag);
    Next answer_connect(int fd, const nlohmann::json& request, uint32_t tag);
    void wait_for_close(int fd) const;
    bool wait_readable(int fd) const;
    bool receive_exact(int fd, uint8_t* into, size_t size) const;
    Script script_for(const std::string& message_type) const;

    std::string socket_path_;
    UsbmuxServerOptions options_;
    TunnelHandler on_tunnel_;
    int listen_fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> app_open_;
    mutable std::mutex mutex_;
    std::map<std::string, Script> scripts_;
    std::vector<nlohmann::json> requests_;
    /// A connection's thread and whether it has finished (so it can be joined early).
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Connection> connections_;
    std::thread acceptor_;
};

}  // namespace kova::phone

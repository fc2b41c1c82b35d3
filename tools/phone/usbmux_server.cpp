#include "tools/phone/usbmux_server.h"

#include <plist/plist.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kova::phone {
namespace {

constexpr uint32_t kHeaderBytes = 16;
constexpr uint32_t kMaxRequestBytes = 1048576;
constexpr uint16_t kPhoneAppPortSwapped = 32955;  // port 48000 in network byte order
constexpr int kPollSliceMs = 50;

struct PlistHolder {
    plist_t node;
    explicit PlistHolder(plist_t n) : node(n) {}
    ~PlistHolder() {
        if (node != nullptr) {
            plist_free(node);
        }
    }
    PlistHolder(const PlistHolder&) = delete;
    PlistHolder& operator=(const PlistHolder&) = delete;
};

void put_u32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t get_u32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

std::vector<uint8_t> header(uint32_t length, uint32_t tag) {
    std::vector<uint8_t> bytes;
    put_u32(bytes, length);
    put_u32(bytes, 1);  // version
    put_u32(bytes, 8);  // property list
    put_u32(bytes, tag);
    return bytes;
}

bool send_all(int fd, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool send_payload(int fd, const std::string& payload, uint32_t tag) {
    std::vector<uint8_t> message = header(kHeaderBytes + payload.size(), tag);
    message.insert(message.end(), payload.begin(), payload.end());
    return send_all(fd, message);
}

std::string to_xml(plist_t node) {
    char* xml = nullptr;
    uint32_t size = 0;
    plist_to_xml(node, &xml, &size);
    std::string text(xml != nullptr ? xml : "", size);
    plist_to_xml_free(xml);
    return text;
}

bool send_plist(int fd, plist_t node, uint32_t tag) {
    PlistHolder holder(node);
    return send_payload(fd, to_xml(node), tag);
}

plist_t result_reply(const int64_t* number) {
    plist_t reply = plist_new_dict();
    plist_dict_set_item(reply, "MessageType", plist_new_string("Result"));
    if (number != nullptr) {
        plist_dict_set_item(reply, "Number", plist_new_uint(static_cast<uint64_t>(*number)));
    }
    return reply;
}

plist_t device_entry(const UsbmuxDevice& device) {
    plist_t properties = plist_new_dict();
    plist_dict_set_item(properties, "ConnectionType",
                        plist_new_string(device.connection_type.c_str()));
    plist_dict_set_item(properties, "DeviceID",
                        plist_new_uint(static_cast<uint64_t>(device.device_id)));
    plist_dict_set_item(properties, "LocationID", plist_new_uint(device.location_id));
    plist_dict_set_item(properties, "ProductID", plist_new_uint(device.product_id));
    plist_dict_set_item(properties, "SerialNumber", plist_new_string(device.serial.c_str()));
    plist_t entry = plist_new_dict();
    plist_dict_set_item(entry, "DeviceID", plist_new_uint(static_cast<uint64_t>(device.device_id)));
    plist_dict_set_item(entry, "MessageType", plist_new_string("Attached"));
    plist_dict_set_item(entry, "Properties", properties);
    return entry;
}

// A pairing record for a trusted device, else the daemon's "not found" result.
plist_t pair_record_reply(const std::vector<UsbmuxDevice>& devices, const nlohmann::json& request) {
    const nlohmann::json serial = request.value("PairRecordID", nlohmann::json());
    for (const UsbmuxDevice& device : devices) {
        if (device.trusted && serial.is_string() && serial.get<std::string>() == device.serial) {
            plist_t record = plist_new_dict();
            plist_dict_set_item(record, "HostID", plist_new_string("KOVA-EMULATED-HOST"));
            const std::string record_xml = to_xml(record);
            plist_free(record);
            plist_t reply = plist_new_dict();
            plist_dict_set_item(reply, "PairRecordData",
                                plist_new_data(record_xml.data(), record_xml.size()));
            return reply;
        }
    }
    const int64_t not_found = 2;
    return result_reply(&not_found);
}

nlohmann::json to_json(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_STRING: {
            uint64_t length = 0;
            const char* value = plist_get_string_ptr(node, &length);
            return value != nullptr ? std::string(value, ::strnlen(value, length)) : "";
        }
        case PLIST_UINT: {
            uint64_t value = 0;
            plist_get_uint_val(node, &value);
            return static_cast<int64_t>(value);
        }
        case PLIST_BOOLEAN: {
            uint8_t value = 0;
            plist_get_bool_val(node, &value);
            return value != 0;
        }
        default:
            return nullptr;
    }
}

nlohmann::json dict_to_json(plist_t dict) {
    nlohmann::json object = nlohmann::json::object();
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(dict, &iterator);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, iterator, &key, &value);
        if (key == nullptr) {
            break;
        }
        object[key] = to_json(value);
        std::free(key);
    }
    std::free(iterator);
    return object;
}

}  // namespace

UsbmuxServer::UsbmuxServer(std::string socket_path, UsbmuxServerOptions options,
                           TunnelHandler on_tunnel)
    : socket_path_(std::move(socket_path)),
      options_(std::move(options)),
      on_tunnel_(std::move(on_tunnel)),
      app_open_(options_.app_open) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_path_.size() >= sizeof address.sun_path) {
        throw std::runtime_error("usbmux socket path too long: " + socket_path_);
    }
    std::memcpy(address.sun_path, socket_path_.c_str(), socket_path_.size() + 1);
    struct stat existing {};
    if (::lstat(socket_path_.c_str(), &existing) == 0 && S_ISSOCK(existing.st_mode)) {
        ::unlink(socket_path_.c_str());
    }
    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0 ||
        ::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_fd_, 16) != 0) {
        const std::string reason = std::strerror(errno);
        if (listen_fd_ >= 0) {
            ::close(listen_fd_);
        }
        throw std::runtime_error("cannot listen on " + socket_path_ + ": " + reason);
    }
    acceptor_ = std::thread([this] { accept_loop(); });
}

UsbmuxServer::~UsbmuxServer() {
    stop();
}

void UsbmuxServer::stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    acceptor_.join();
    std::vector<Connection> connections;
    {
        std::lock_guard lock(mutex_);
        connections.swap(connections_);
    }
    for (Connection& connection : connections) {
        connection.thread.join();
    }
    ::close(listen_fd_);
    ::unlink(socket_path_.c_str());
}

void UsbmuxServer::set_fault(const std::string& message_type, UsbmuxFault fault, int64_t result) {
    std::lock_guard lock(mutex_);
    scripts_[message_type] = Script{fault, result};
}

std::vector<nlohmann::json> UsbmuxServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

UsbmuxServer::Script UsbmuxServer::script_for(const std::string& message_type) const {
    std::lock_guard lock(mutex_);
    const auto found = scripts_.find(message_type);
    return found != scripts_.end() ? found->second : Script{};
}

void UsbmuxServer::accept_loop() {
    while (!stopping_.load()) {
        if (!wait_readable(listen_fd_)) {
            continue;
        }
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard lock(mutex_);
        // A long-lived daemon serves many short exchanges: join the finished ones as it goes.
        std::erase_if(connections_, [](Connection& connection) {
            if (!connection.done->load()) {
                return false;
            }
            connection.thread.join();
            return true;
        });
        connections_.push_back(Connection{std::thread([this, fd, done] {
                                              serve_connection(fd);
                                              done->store(true);
                                          }),
                                          done});
    }
}

// True when `fd` has something to read; false after one slice, so callers can check stopping_.
bool UsbmuxServer::wait_readable(int fd) const {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, kPollSliceMs) > 0;
}

bool UsbmuxServer::receive_exact(int fd, uint8_t* into, size_t size) const {
    size_t received = 0;
    while (received < size) {
        if (stopping_.load()) {
            return false;
        }
        if (!wait_readable(fd)) {
            continue;
        }
        const ssize_t n = ::recv(fd, into + received, size - received, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        received += static_cast<size_t>(n);
    }
    return true;
}

void UsbmuxServer::serve_connection(int fd) {
    for (;;) {
        uint8_t head[kHeaderBytes];
        if (!receive_exact(fd, head, sizeof head)) {
            break;
        }
        const uint32_t length = get_u32(head);
        if (length < kHeaderBytes || length > kMaxRequestBytes) {
            break;
        }
        std::vector<uint8_t> payload(length - kHeaderBytes);
        if (!receive_exact(fd, payload.data(), payload.size())) {
            break;
        }
        plist_t parsed = nullptr;
        plist_from_xml(reinterpret_cast<const char*>(payload.data()),
                       static_cast<uint32_t>(payload.size()), &parsed);
        PlistHolder request(parsed);
        if (parsed == nullptr || plist_get_node_type(parsed) != PLIST_DICT) {
            break;
        }
        const nlohmann::json recorded = dict_to_json(parsed);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(recorded);
        }
        const Next next = answer(fd, recorded, get_u32(head + 12));
        if (next == Next::handed_over) {
            return;
        }
        if (next == Next::close) {
            break;
        }
    }
    ::close(fd);
}

UsbmuxServer::Next UsbmuxServer::answer(int fd, const nlohmann::json& request, uint32_t tag) {
    const std::string type = request.value("MessageType", nlohmann::json()).is_string()
                                 ? request["MessageType"].get<std::string>()
                                 : std::string();
    const Script script = script_for(type);
    if (script.fault != UsbmuxFault::none) {
        return answer_fault(fd, script, tag);
    }
    bool sent = false;
    if (type == "ListDevices") {
        plist_t list = plist_new_array();
        for (const UsbmuxDevice& device : options_.devices) {
            plist_array_append_item(list, device_entry(device));
        }
        plist_t reply = plist_new_dict();
        plist_dict_set_item(reply, "DeviceList", list);
        sent = send_plist(fd, reply, tag);
    } else if (type == "ReadPairRecord") {
        sent = send_plist(fd, pair_record_reply(options_.devices, request), tag);
    } else if (type == "Connect") {
        return answer_connect(fd, request, tag);
    } else {
        const int64_t bad_command = 1;
        sent = send_plist(fd, result_reply(&bad_command), tag);
    }
    return sent ? Next::keep : Next::close;
}

UsbmuxServer::Next UsbmuxServer::answer_fault(int fd, const Script& script, uint32_t tag) {
    switch (script.fault) {
        case UsbmuxFault::result_code:
            return send_plist(fd, result_reply(&script.result), tag) ? Next::keep : Next::close;
        case UsbmuxFault::missing_number:
            return send_plist(fd, result_reply(nullptr), tag) ? Next::keep : Next::close;
        case UsbmuxFault::size_15:
        case UsbmuxFault::size_oversize:
            // Only the header: a client that tried to read the announced payload would hang.
            if (send_all(fd,
                         header(script.fault == UsbmuxFault::size_15 ? 15 : kMaxRequestBytes + 1,
                                tag))) {
                wait_for_close(fd);
            }
            return Next::close;
        case UsbmuxFault::not_plist:
            return send_payload(fd, "this is not a property list", tag) ? Next::keep : Next::close;
        case UsbmuxFault::not_dict: {
            plist_t array = plist_new_array();
            plist_array_append_item(array, plist_new_string("Result"));
            return send_plist(fd, array, tag) ? Next::keep : Next::close;
        }
        case UsbmuxFault::never_answer:
            wait_for_close(fd);
            return Next::close;
        case UsbmuxFault::close_early:
        case UsbmuxFault::none:
            break;
    }
    return Next::close;
}

UsbmuxServer::Next UsbmuxServer::answer_connect(int fd, const nlohmann::json& request,
                                                uint32_t tag) {
    const nlohmann::json device_id = request.value("DeviceID", nlohmann::json());
    const nlohmann::json port = request.value("PortNumber", nlohmann::json());
    bool known = false;
    for (const UsbmuxDevice& device : options_.devices) {
        known = known ||
                (device_id.is_number_integer() && device_id.get<int64_t>() == device.device_id);
    }
    const bool listening =
        app_open_.load() && port.is_number_integer() && port.get<int64_t>() == kPhoneAppPortSwapped;
    const int64_t number = !known ? 2 : listening ? 0 : 3;
    if (!send_plist(fd, result_reply(&number), tag)) {
        return Next::close;
    }
    if (number != 0 || !on_tunnel_) {
        return number == 0 ? Next::close : Next::keep;
    }
    on_tunnel_(fd);
    return Next::handed_over;
}

void UsbmuxServer::wait_for_close(int fd) const {
    uint8_t scratch[256];
    while (!stopping_.load()) {
        if (!wait_readable(fd)) {
            continue;
        }
        const ssize_t n = ::recv(fd, scratch, sizeof scratch, 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            return;
        }
    }
}

}  // namespace kova::phone

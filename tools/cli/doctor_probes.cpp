#include "tools/cli/doctor_probes.h"

#include <fcntl.h>
#include <netdb.h>
#include <pthread.h>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "core/audio/pulse_connection.h"
#include "core/transport/aoa_requests.h"
#include "core/transport/aoa_transport.h"
#include "core/transport/usbmux_client.h"
#include "core/transport/usbmux_transport.h"

namespace kova::cli {
namespace {

constexpr const char* kSinkName = "com.brenvale.kova.device";
constexpr unsigned short kPhoneAppPort = 48000;
// Time allowed beyond the window for the first fragment to arrive.
constexpr auto kLevelGrace = std::chrono::seconds(2);
constexpr pa_usec_t kFragmentUs = 20000;

struct ServerReply {
    pa_threaded_mainloop* loop;
    std::string name;
    std::string version;
    bool answered = false;
};

void on_server_info(pa_context*, const pa_server_info* info, void* userdata) {
    auto* reply = static_cast<ServerReply*>(userdata);
    if (info != nullptr) {
        reply->name = info->server_name != nullptr ? info->server_name : "";
        reply->version = info->server_version != nullptr ? info->server_version : "";
        reply->answered = true;
    }
    pa_threaded_mainloop_signal(reply->loop, 0);
}

void read_server_info(PulseConnection& connection, DoctorFacts& facts) {
    PulseConnection::Lock lock(connection);
    ServerReply reply{connection.loop(), "", "", false};
    pa_operation* operation =
        pa_context_get_server_info(connection.context(), &on_server_info, &reply);
    if (operation == nullptr) {
        return;
    }
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        pa_threaded_mainloop_wait(connection.loop());
    }
    pa_operation_unref(operation);
    facts.server_name = reply.name;
    facts.server_version = reply.version;
}

// Fed on the loop thread, read under the loop's lock.
struct LevelMeter {
    size_t samples = 0;
    float peak = 0.0f;
};

void on_level_fragment(pa_stream* stream, size_t, void* userdata) {
    auto* meter = static_cast<LevelMeter*>(userdata);
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0) {
        if (bytes == 0) {
            break;
        }
        // A hole (data null) is silence the server did not send.
        if (data != nullptr) {
            const auto* samples = static_cast<const float*>(data);
            for (size_t i = 0; i < bytes / sizeof(float); ++i) {
                meter->peak = std::max(meter->peak, std::fabs(samples[i]));
            }
        }
        meter->samples += bytes / sizeof(float);
        pa_stream_drop(stream);
    }
}

std::optional<float> read_peak(PulseConnection& connection, const SinkInfo& sink,
                               std::chrono::milliseconds window) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, sink.rate, 2};
    LevelMeter meter;
    pa_stream* stream = nullptr;
    {
        PulseConnection::Lock lock(connection);
        stream = pa_stream_new(connection.context(), "KOVA level", &spec, nullptr);
        if (stream == nullptr) {
            return std::nullopt;
        }
        pa_stream_set_read_callback(stream, &on_level_fragment, &meter);
        // Small fragments: the server's default would deliver the window in one late piece.
        pa_buffer_attr buffer;
        buffer.maxlength = buffer.tlength = buffer.prebuf = buffer.minreq = UINT32_MAX;
        buffer.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentUs, &spec));
        if (pa_stream_connect_record(stream, sink.monitor_source.c_str(), &buffer,
                                     PA_STREAM_ADJUST_LATENCY) < 0) {
            pa_stream_unref(stream);
            return std::nullopt;
        }
    }
    const size_t wanted = 2 * static_cast<size_t>(sink.rate) * window.count() / 1000;
    const auto deadline = std::chrono::steady_clock::now() + window + kLevelGrace;
    bool enough = false;
    while (!enough && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PulseConnection::Lock lock(connection);
        enough = meter.samples >= wanted || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream));
    }
    PulseConnection::Lock lock(connection);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    if (meter.samples < wanted) {
        return std::nullopt;
    }
    return meter.peak;
}

bool connects(const usbmux::DaemonAddress& address) {
    if (!address.tcp) {
        sockaddr_un unix_address{};
        unix_address.sun_family = AF_UNIX;
        if (address.path.size() >= sizeof unix_address.sun_path) {
            return false;
        }
        std::memcpy(unix_address.sun_path, address.path.c_str(), address.path.size());
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&unix_address),
                                           sizeof unix_address) == 0;
        if (fd >= 0) {
            close(fd);
        }
        return ok;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.path.c_str(), address.port.c_str(), &hints, &found) != 0) {
        return false;
    }
    bool ok = false;
    for (addrinfo* entry = found; entry != nullptr && !ok; entry = entry->ai_next) {
        const int fd = socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, 0);
        ok = fd >= 0 && connect(fd, entry->ai_addr, entry->ai_addrlen) == 0;
        if (fd >= 0) {
            close(fd);
        }
    }
    freeaddrinfo(found);
    return ok;
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
    return text;
}

std::vector<PhoneFacts> android_phones() {
    std::vector<PhoneFacts> phones;
    AoaTransport usb;
    for (const DeviceInfo& device : usb.list()) {
        // Hubs are no phones, and iPhones are reached through usbmuxd.
        if (device.device_class == 9 || device.vendor == aoa::kAppleVendor) {
            continue;
        }
        char node[32];
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", device.bus, device.address);
        PhoneFacts phone;
        phone.path = device.path;
        phone.platform = "android";
        phone.name = hex4(device.vendor) + ":" + hex4(device.product);
        phone.accessory = aoa::is_accessory(device.vendor, device.product);
        phone.node = node;
        phones.push_back(phone);
    }
    return phones;
}

std::vector<PhoneFacts> ios_phones() {
    std::vector<PhoneFacts> phones;
    for (const IosDevice& device : UsbmuxTransport::list()) {
        PhoneFacts phone;
        phone.path = device.id;
        phone.platform = "ios";
        phone.name = device.serial;
        phone.trusted = device.trusted;
        if (device.trusted) {
            try {
                UsbmuxTransport link;
                link.connect(device.id, kPhoneAppPort);
                phone.app_listening = true;
            } catch (const std::exception&) {
                phone.app_listening = false;
            }
        }
        phones.push_back(phone);
    }
    return phones;
}

bool try_realtime() {
    bool allowed = false;
    // A throwaway thread, so the caller's own scheduling is never touched.
    std::thread probe([&allowed] {
        sched_param parameters{};
        parameters.sched_priority = sched_get_priority_min(SCHED_FIFO);
        allowed = pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) == 0;
    });
    probe.join();
    return allowed;
}

bool bits_allow(const struct stat& status, const Identity& who) {
    constexpr mode_t kReadWrite = S_IRUSR | S_IWUSR;
    if (status.st_uid == who.uid) {
        return (status.st_mode & kReadWrite) == kReadWrite;
    }
    const bool member = status.st_gid == who.gid || std::find(who.groups.begin(), who.groups.end(),
                                                              status.st_gid) != who.groups.end();
    if (member) {
        return (status.st_mode & (kReadWrite >> 3)) == (kReadWrite >> 3);
    }
    return (status.st_mode & (kReadWrite >> 6)) == (kReadWrite >> 6);
}

bool same_identity(const Identity& a, const Identity& b) {
    return a.uid == b.uid && a.gid == b.gid && a.groups == b.groups;
}

}  // namespace

Identity Identity::effective() {
    Identity who{geteuid(), getegid(), {}};
    const int count = getgroups(0, nullptr);
    if (count > 0) {
        who.groups.resize(static_cast<size_t>(count));
        who.groups.resize(static_cast<size_t>(std::max(0, getgroups(count, who.groups.data()))));
    }
    return who;
}

bool may_open(const std::string& node, const Identity& who) {
    struct stat status {};
    if (stat(node.c_str(), &status) != 0) {
        return false;
    }
    if (who.uid == 0) {
        return true;
    }
    if (same_identity(who, Identity::effective())) {
        return faccessat(AT_FDCWD, node.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
    }
    return bits_allow(status, who);
}

void read_sound_facts(DoctorFacts& facts, std::chrono::milliseconds level_window) {
    const char* pulse_server = std::getenv("PULSE_SERVER");
    facts.pulse_server = pulse_server != nullptr ? pulse_server : "";
    PulseConnection connection;
    facts.server_reachable = connection.connect();
    if (!facts.server_reachable) {
        return;
    }
    read_server_info(connection, facts);
    const auto sink = connection.sink_by_name(kSinkName);
    facts.sink_present = sink.has_value();
    if (sink) {
        facts.sink_rate = sink->rate;
        facts.sink_peak = read_peak(connection, *sink, level_window);
    }
}

bool usbmuxd_answers(std::string& address) {
    const usbmux::DaemonAddress daemon = usbmux::daemon_address();
    address = daemon.tcp ? daemon.path + ":" + daemon.port : daemon.path;
    return connects(daemon);
}

std::string find_udev_rules(const std::vector<std::string>& dirs) {
    for (const std::string& dir : dirs) {
        const std::filesystem::path rules = std::filesystem::path(dir) / "70-kova-connect.rules";
        std::error_code error;
        if (std::filesystem::is_regular_file(rules, error)) {
            return rules.string();
        }
    }
    return {};
}

DoctorSources system_sources() {
    DoctorSources sources;
    sources.phones = [] {
        std::vector<PhoneFacts> phones;
        try {
            phones = android_phones();
        } catch (const std::exception&) {
            // No USB access at all leaves only the iPhones to list.
        }
        for (PhoneFacts& phone : ios_phones()) {
            phones.push_back(std::move(phone));
        }
        return phones;
    };
    sources.realtime_allowed = try_realtime;
    return sources;
}

DoctorFacts gather_facts(const DoctorSources& sources) {
    DoctorFacts facts;
    read_sound_facts(facts, sources.level_window);
    facts.usbmuxd_reachable = usbmuxd_answers(facts.usbmuxd_address);
    facts.udev_rules = find_udev_rules(sources.rules_dirs);
    if (sources.phones) {
        facts.phones = sources.phones();
    }
    for (PhoneFacts& phone : facts.phones) {
        if (phone.platform == "android") {
            phone.may_open = may_open(phone.node, sources.who);
        }
    }
    facts.realtime_allowed = sources.realtime_allowed && sources.realtime_allowed();
    return facts;
}

}  // namespace kova::cli

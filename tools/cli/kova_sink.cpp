#include "tools/cli/kova_sink.h"

#include <string>

#include "core/audio/pulse_connection.h"
#include "core/session/session_options.h"
#include "core/transport/error.h"

namespace kova::cli {
namespace {

constexpr unsigned kLowestRate = 8000;
constexpr unsigned kHighestRate = 384000;

// Float samples, so what a DAW plays reaches the capture without a 16-bit detour.
std::string sink_arguments(unsigned rate) {
    return std::string("sink_name=") + kKovaDeviceUid +
           " sink_properties=device.description=KOVA format=float32le channels=2 rate=" +
           std::to_string(rate);
}

void connect(PulseConnection& connection) {
    if (!connection.connect()) {
        throw Error("audio_server_unreachable");
    }
}

}  // namespace

uint32_t install_kova_sink(unsigned rate) {
    if (rate < kLowestRate || rate > kHighestRate) {
        throw Error("invalid_rate");
    }
    PulseConnection connection;
    connect(connection);
    if (connection.sink_by_name(kKovaDeviceUid)) {
        throw Error("kova_device_already_installed");
    }
    const auto module = connection.load_module("module-null-sink", sink_arguments(rate));
    if (!module || !connection.sink_by_name(kKovaDeviceUid)) {
        throw Error("kova_device_install_failed");
    }
    return *module;
}

void remove_kova_sink() {
    PulseConnection connection;
    connect(connection);
    const auto sink = connection.sink_by_name(kKovaDeviceUid);
    if (!sink) {
        throw Error("kova_device_not_found");
    }
    if (!connection.unload_module(sink->owner_module)) {
        throw Error("kova_device_remove_failed");
    }
}

}  // namespace kova::cli

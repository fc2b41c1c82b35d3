#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "core/api/event_documents.h"
#include "core/api/kova.h"
#include "core/session/report.h"
#include "core/session/run_session.h"
#include "core/transport/interrupt.h"

struct KovaSession {
    std::thread worker;
};

namespace {

using nlohmann::json;

std::atomic<bool> session_stop{false};

template <typename T>
void read_optional(const json& document, const char* key, T& destination) {
    const auto found = document.find(key);
    if (found != document.end()) {
        destination = found->get<T>();
    }
}

// Integer options take any JSON number (fractions truncated toward zero) or a boolean;
// values beyond 32 bits saturate so that a huge number is refused, not wrapped into range.
void read_int32(const json& document, const char* key, int32_t& destination) {
    const auto found = document.find(key);
    if (found == document.end()) {
        return;
    }
    if (found->is_boolean()) {
        destination = found->get<bool>() ? 1 : 0;
        return;
    }
    if (!found->is_number()) {
        throw std::invalid_argument(key);
    }
    const double value = found->is_number_float() ? std::trunc(found->get<double>())
                         : found->is_number_unsigned()
                             ? static_cast<double>(found->get<uint64_t>())
                             : static_cast<double>(found->get<int64_t>());
    if (std::isnan(value)) {
        throw std::invalid_argument(key);
    }
    destination = static_cast<int32_t>(std::clamp(value, -2147483648.0, 2147483647.0));
}

// Throws (JSON parse, type or missing-key errors) for anything that is not a valid document.
kova::SessionOptions parse_options(const char* options_json) {
    const json document = json::parse(options_json, nullptr, true, false);
    if (!document.is_object()) {
        throw std::invalid_argument("options must be an object");
    }
    kova::SessionOptions options;
    options.device = document.at("device").get<std::string>();
    read_optional(document, "accessoryId", options.accessory_id);
    bool kova_device = false;
    read_optional(document, "kovaDevice", kova_device);
    if (kova_device) {
        options.capture_uid = kova::kKovaDeviceUid;
    }
    read_optional(document, "signal", options.signal);
    read_optional(document, "wav", options.wav);
    read_optional(document, "loop", options.loop);
    read_int32(document, "seconds", options.seconds);
    read_int32(document, "helloTimeoutMs", options.hello_timeout_ms);
    return options;
}

struct EventSink {
    kova_event_callback callback;
    void* context;

    void deliver(const std::string& text) const { callback(context, text.c_str()); }
};

kova::SessionHooks make_hooks(const EventSink& sink) {
    kova::SessionHooks hooks;
    hooks.on_report = [&sink](json& report) { sink.deliver(kova::report_event(report)); };
    hooks.on_state = [&sink](const std::string& state) { sink.deliver(kova::state_event(state)); };
    hooks.on_status = [&sink](const json& report) { sink.deliver(kova::status_event(report)); };
    hooks.stop_requested = [] { return session_stop.load(std::memory_order_acquire); };
    return hooks;
}

void run_worker(const kova::SessionOptions options, const EventSink sink) {
    json report = kova::default_report();
    const kova::SessionHooks hooks = make_hooks(sink);
    const int code = kova::run_session(options, report, hooks);
    sink.deliver(kova::ended_event(code, report));
}

}  // namespace

extern "C" KovaSession* kova_session_start(const char* options_json, kova_event_callback callback,
                                           void* context) {
    kova::SessionOptions options;
    try {
        if (options_json == nullptr) {
            return nullptr;
        }
        options = parse_options(options_json);
    } catch (const std::exception&) {
        return nullptr;
    }
    kova::interrupted.store(0, std::memory_order_release);
    session_stop.store(false, std::memory_order_seq_cst);
    auto* handle = new (std::nothrow) KovaSession;
    if (handle == nullptr) {
        return nullptr;
    }
    try {
        handle->worker = std::thread(run_worker, options, EventSink{callback, context});
    } catch (const std::exception&) {
        delete handle;
        return nullptr;
    }
    return handle;
}

extern "C" void kova_session_stop(KovaSession* /*handle*/) {
    session_stop.store(true, std::memory_order_seq_cst);
}

extern "C" void kova_session_free(KovaSession* handle) {
    if (handle == nullptr) {
        return;
    }
    session_stop.store(true, std::memory_order_seq_cst);
    kova::interrupted.store(1, std::memory_order_release);
    if (handle->worker.joinable()) {
        handle->worker.join();
    }
    delete handle;
}

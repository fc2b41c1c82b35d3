#include <atomic>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "core/api/event_documents.h"
#include "core/api/kova.h"
#include "core/session/options_document.h"
#include "core/session/report.h"
#include "core/session/run_session.h"
#include "core/transport/interrupt.h"

struct KovaSession {
    std::thread worker;
};

namespace {

using nlohmann::json;

std::atomic<bool> session_stop{false};

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
        options = kova::parse_options_document(options_json);
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

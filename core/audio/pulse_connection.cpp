#include "core/audio/pulse_connection.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

namespace kova {
namespace {

constexpr const char* kClientName = "KOVA Connect";

// Carries one request's answer from the loop thread back to the waiting caller.
template <class T>
struct Reply {
    pa_threaded_mainloop* loop;
    std::optional<T> value;
};

SinkInfo sink_info_from(const pa_sink_info& info) {
    SinkInfo sink;
    sink.index = info.index;
    sink.rate = info.sample_spec.rate;
    sink.owner_module = info.owner_module;
    sink.monitor_source = info.monitor_source_name != nullptr ? info.monitor_source_name : "";
    return sink;
}

void on_sink_info(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* reply = static_cast<Reply<SinkInfo>*>(userdata);
    if (eol == 0 && info != nullptr) {
        reply->value = sink_info_from(*info);
    }
    pa_threaded_mainloop_signal(reply->loop, 0);
}

void on_module_loaded(pa_context*, uint32_t index, void* userdata) {
    auto* reply = static_cast<Reply<uint32_t>*>(userdata);
    if (index != PA_INVALID_INDEX) {
        reply->value = index;
    }
    pa_threaded_mainloop_signal(reply->loop, 0);
}

void on_success(pa_context*, int success, void* userdata) {
    auto* reply = static_cast<Reply<bool>*>(userdata);
    reply->value = success != 0;
    pa_threaded_mainloop_signal(reply->loop, 0);
}

// Waits, lock held, until the loop thread has finished `operation` (answered, failed or
// cancelled because the connection died).
void finish(pa_threaded_mainloop* loop, pa_operation* operation) {
    if (operation == nullptr) {
        return;
    }
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        pa_threaded_mainloop_wait(loop);
    }
    pa_operation_unref(operation);
}

}  // namespace

struct PulseCallbacks {
    static void context_state(pa_context* context, void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        const pa_context_state_t state = pa_context_get_state(context);
        if (!PA_CONTEXT_IS_GOOD(state) && self->ready_ && self->watcher_ != nullptr) {
            self->watcher_->sink_gone();
        }
        pa_threaded_mainloop_signal(self->loop_, 0);
    }

    static void sink_event(pa_context* context, pa_subscription_event_type_t event, uint32_t index,
                           void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        if (self->watcher_ == nullptr || index != self->watched_ ||
            (event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK) {
            return;
        }
        const unsigned kind = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
            self->watcher_->sink_gone();
        } else if (kind == PA_SUBSCRIPTION_EVENT_CHANGE) {
            pa_operation* operation =
                pa_context_get_sink_info_by_index(context, index, &watched_sink, self);
            if (operation != nullptr) {
                pa_operation_unref(operation);
            }
        }
    }

    static void watched_sink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
        auto* self = static_cast<PulseConnection*>(userdata);
        if (eol == 0 && info != nullptr && self->watcher_ != nullptr) {
            self->watcher_->sink_rate(info->sample_spec.rate);
        }
    }
};

PulseConnection::PulseConnection() : loop_(pa_threaded_mainloop_new()) {
    if (loop_ != nullptr) {
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), kClientName);
    }
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, &PulseCallbacks::context_state, this);
        pa_context_set_subscribe_callback(context_, &PulseCallbacks::sink_event, this);
        pa_threaded_mainloop_start(loop_);
    }
}

PulseConnection::~PulseConnection() {
    if (context_ != nullptr) {
        {
            Lock lock(*this);
            watcher_ = nullptr;
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_set_subscribe_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
        }
        pa_threaded_mainloop_stop(loop_);
        pa_context_unref(context_);
    }
    if (loop_ != nullptr) {
        pa_threaded_mainloop_free(loop_);
    }
}

bool PulseConnection::connect() {
    if (context_ == nullptr) {
        return false;
    }
    Lock lock(*this);
    // A null server name lets the client library honour PULSE_SERVER and its usual lookup.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return false;
    }
    pa_context_state_t state = pa_context_get_state(context_);
    while (PA_CONTEXT_IS_GOOD(state) && state != PA_CONTEXT_READY) {
        pa_threaded_mainloop_wait(loop_);
        state = pa_context_get_state(context_);
    }
    ready_ = state == PA_CONTEXT_READY;
    return ready_;
}

std::optional<SinkInfo> PulseConnection::sink_by_name(const std::string& name) {
    if (!ready_) {
        return std::nullopt;
    }
    Lock lock(*this);
    Reply<SinkInfo> reply{loop_, std::nullopt};
    finish(loop_, pa_context_get_sink_info_by_name(context_, name.c_str(), &on_sink_info, &reply));
    return reply.value;
}

std::optional<SinkInfo> PulseConnection::sink_by_index(uint32_t index) {
    if (!ready_) {
        return std::nullopt;
    }
    Lock lock(*this);
    Reply<SinkInfo> reply{loop_, std::nullopt};
    finish(loop_, pa_context_get_sink_info_by_index(context_, index, &on_sink_info, &reply));
    return reply.value;
}

std::optional<uint32_t> PulseConnection::load_module(const std::string& name,
                                                     const std::string& arguments) {
    if (!ready_) {
        return std::nullopt;
    }
    Lock lock(*this);
    Reply<uint32_t> reply{loop_, std::nullopt};
    finish(loop_, pa_context_load_module(context_, name.c_str(), arguments.c_str(),
                                         &on_module_loaded, &reply));
    return reply.value;
}

bool PulseConnection::unload_module(uint32_t index) {
    if (!ready_) {
        return false;
    }
    Lock lock(*this);
    Reply<bool> reply{loop_, std::nullopt};
    finish(loop_, pa_context_unload_module(context_, index, &on_success, &reply));
    return reply.value.value_or(false);
}

void PulseConnection::watch_sink(uint32_t index, SinkWatcher* watcher) {
    Lock lock(*this);
    watched_ = index;
    watcher_ = watcher;
    if (!ready_) {
        return;
    }
    // A sink removed before the server has taken the subscription sends no event, so the
    // subscription is waited for and the sink looked up once more behind it.
    Reply<bool> subscribed{loop_, std::nullopt};
    finish(loop_, pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SINK, &on_success,
                                       &subscribed));
    Reply<SinkInfo> sink{loop_, std::nullopt};
    finish(loop_, pa_context_get_sink_info_by_index(context_, index, &on_sink_info, &sink));
    if (!sink.value && watcher_ != nullptr) {
        watcher_->sink_gone();
    }
}

PulseConnection::Lock::Lock(const PulseConnection& connection) : loop_(connection.loop_) {
    pa_threaded_mainloop_lock(loop_);
}

PulseConnection::Lock::~Lock() {
    pa_threaded_mainloop_unlock(loop_);
}

}  // namespace kova

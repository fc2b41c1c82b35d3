#include "app/model/platform/pulse_audio_watcher.h"

#include <pulse/context.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

namespace kova {

PulseAudioWatcher::PulseAudioWatcher(std::shared_ptr<MainQueue> queue) : queue_(std::move(queue)) {}

PulseAudioWatcher::~PulseAudioWatcher() {
    if (loop_ == nullptr) {
        return;
    }
    pa_threaded_mainloop_stop(loop_);
    if (context_ != nullptr) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_free(loop_);
}

bool PulseAudioWatcher::start(std::function<void()> changed) {
    if (loop_ != nullptr) {
        return false;
    }
    changed_ = std::move(changed);
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) {
        return false;
    }
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "KOVA Connect");
    if (context_ == nullptr) {
        return false;
    }
    pa_context_set_state_callback(context_, &PulseAudioWatcher::onState, this);
    pa_context_set_subscribe_callback(
        context_,
        [](pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* self) {
            onEvent(context, static_cast<int>(type), index, self);
        },
        this);
    // A null server lets the client library honour PULSE_SERVER and the usual defaults.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return false;
    }
    return pa_threaded_mainloop_start(loop_) >= 0;
}

void PulseAudioWatcher::onState(pa_context* context, void* self) {
    if (pa_context_get_state(context) != PA_CONTEXT_READY) {
        return;
    }
    pa_operation* operation = pa_context_subscribe(
        context, PA_SUBSCRIPTION_MASK_SINK,
        [](pa_context*, int success, void* watcher) {
            static_cast<PulseAudioWatcher*>(watcher)->subscribed_.store(success != 0);
        },
        self);
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

void PulseAudioWatcher::onEvent(pa_context*, int type, unsigned, void* self) {
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK) {
        static_cast<PulseAudioWatcher*>(self)->sinkChanged();
    }
}

// Sinks change often (volume, state); a burst becomes one call on the main thread.
void PulseAudioWatcher::sinkChanged() {
    if (!changed_ || pending_->exchange(true)) {
        return;
    }
    queue_->post([pending = pending_, changed = changed_] {
        pending->store(false);
        changed();
    });
}

}  // namespace kova

#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "app/model/ports/audio_watcher.h"
#include "app/model/ports/main_queue.h"

struct pa_threaded_mainloop;
struct pa_context;

namespace kova {

/// Audio device changes from a PulseAudio subscription to sink events, on a threaded main loop.
class PulseAudioWatcher : public AudioWatcher {
  public:
    /// Changes are handed to `queue`.
    explicit PulseAudioWatcher(std::shared_ptr<MainQueue> queue);
    /// Stops the loop and disconnects.
    ~PulseAudioWatcher() override;
    PulseAudioWatcher(const PulseAudioWatcher&) = delete;
    PulseAudioWatcher& operator=(const PulseAudioWatcher&) = delete;
    /// Connects (honouring PULSE_SERVER) and subscribes once the server is ready; false when
    /// the connection cannot even be attempted.
    bool start(std::function<void()> changed) override;
    /// True once the subscription is in place.
    bool subscribed() const { return subscribed_.load(); }

  private:
    static void onState(pa_context* context, void* self);
    static void onEvent(pa_context* context, int type, unsigned index, void* self);
    void sinkChanged();

    std::shared_ptr<MainQueue> queue_;
    std::function<void()> changed_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::atomic<bool> subscribed_{false};
    std::shared_ptr<std::atomic<bool>> pending_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace kova

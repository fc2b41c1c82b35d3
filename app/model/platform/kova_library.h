#pragma once

#include "app/model/ports/library.h"

namespace kova {

/// The library port on the real libkova.so.
class KovaLibrary : public Library {
  public:
    /// kova_list_devices.
    char* listDevices() override;
    /// kova_free.
    void freeText(void* text) override;
    /// kova_ios_probe.
    int iosProbe(const char* path) override;
    /// kova_device_present.
    bool devicePresent() override;
    /// kova_device_sample_rate.
    double deviceSampleRate() override;
    /// kova_session_start.
    KovaSession* sessionStart(const char* options, kova_event_callback callback,
                              void* context) override;
    /// kova_session_stop.
    void sessionStop(KovaSession* session) override;
    /// kova_session_free.
    void sessionFree(KovaSession* session) override;
};

}  // namespace kova

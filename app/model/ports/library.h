#pragma once

#include "core/api/kova.h"

namespace kova {

/// The core library's C interface as the model sees it, so tests can script it.
class Library {
  public:
    virtual ~Library() = default;
    /// kova_list_devices: the device list document (release with freeText), or null.
    virtual char* listDevices() = 0;
    /// kova_free: releases a text returned by listDevices.
    virtual void freeText(void* text) = 0;
    /// kova_ios_probe: 1 app listening, 0 nothing listens, -1 any other failure; blocks.
    virtual int iosProbe(const char* path) = 0;
    /// kova_device_present: whether the KOVA audio device exists.
    virtual bool devicePresent() = 0;
    /// kova_device_sample_rate: the KOVA device's nominal rate in Hz, 0.0 when unknown.
    virtual double deviceSampleRate() = 0;
    /// kova_session_start: starts a session; null on invalid options.
    virtual KovaSession* sessionStart(const char* options, kova_event_callback callback,
                                      void* context) = 0;
    /// kova_session_stop: asks the running session to stop gracefully.
    virtual void sessionStop(KovaSession* session) = 0;
    /// kova_session_free: interrupts, waits for "ended" and releases; null is a no-op.
    virtual void sessionFree(KovaSession* session) = 0;
};

}  // namespace kova

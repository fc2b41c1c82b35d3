#include <exception>

#include "core/api/kova.h"
#include "core/audio/device_capture.h"
#include "core/session/session_options.h"

bool kova_device_present(void) {
    try {
        return kova::DeviceCapture::find(kova::kKovaDeviceUid) != 0;
    } catch (const std::exception&) {
        return false;
    }
}

double kova_device_sample_rate(void) {
    try {
        const uint32_t device = kova::DeviceCapture::find(kova::kKovaDeviceUid);
        return kova::DeviceCapture::nominal_rate(device);
    } catch (const std::exception&) {
        return 0.0;
    }
}

#include "app/model/platform/kova_library.h"

namespace kova {

char* KovaLibrary::listDevices() {
    return kova_list_devices();
}

void KovaLibrary::freeText(void* text) {
    kova_free(text);
}

int KovaLibrary::iosProbe(const char* path) {
    return kova_ios_probe(path);
}

bool KovaLibrary::devicePresent() {
    return kova_device_present();
}

double KovaLibrary::deviceSampleRate() {
    return kova_device_sample_rate();
}

KovaSession* KovaLibrary::sessionStart(const char* options, kova_event_callback callback,
                                       void* context) {
    return kova_session_start(options, callback, context);
}

void KovaLibrary::sessionStop(KovaSession* session) {
    kova_session_stop(session);
}

void KovaLibrary::sessionFree(KovaSession* session) {
    kova_session_free(session);
}

}  // namespace kova

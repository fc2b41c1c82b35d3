/* KOVA Connect core library: the plain C interface.
 * Everything crosses this boundary as pointers, integers and JSON text. */
#ifndef KOVA_API_KOVA_H
#define KOVA_API_KOVA_H

#include <stdbool.h>

#if defined(KOVA_BUILDING_LIBRARY)
#define KOVA_EXPORT __attribute__((visibility("default")))
#else
#define KOVA_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Opaque handle of one running session. */
typedef struct KovaSession KovaSession;

/** Receives each event document (compact JSON, valid only during the call) with `context`. */
typedef void (*kova_event_callback)(void* context, const char* event_json);

/** Lists attached phones as a JSON array; release the text with kova_free. */
KOVA_EXPORT char* kova_list_devices(void);

/** Releases a text returned by kova_list_devices; null is allowed. */
KOVA_EXPORT void kova_free(void* text);

/** 1 when the phone app listens on the iOS device at `path`, 0 when it does not, -1 otherwise. */
KOVA_EXPORT int kova_ios_probe(const char* path);

/** True when the KOVA audio device is present. */
KOVA_EXPORT bool kova_device_present(void);

/** The KOVA audio device's nominal sample rate in Hz; 0.0 when missing or unreadable. */
KOVA_EXPORT double kova_device_sample_rate(void);

/** Starts a session from a JSON options document; null (and no event) on invalid options. */
KOVA_EXPORT KovaSession* kova_session_start(const char* options_json, kova_event_callback callback,
                                            void* context);

/** Asks the running session to stop gracefully; the handle is not looked at. */
KOVA_EXPORT void kova_session_stop(KovaSession* handle);

/** Interrupts the session, waits for its "ended" event and releases the handle; null is a no-op. */
KOVA_EXPORT void kova_session_free(KovaSession* handle);

#ifdef __cplusplus
}
#endif

#endif /* KOVA_API_KOVA_H */

/* A C program that knows only the public header: starts a session and waits for "ended". */
#include <stdatomic.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "core/api/kova.h"

static atomic_int ended = 0;
static char ended_text[65536];

static void on_event(void* context, const char* event_json) {
    int* count = (int*)context;
    ++*count;
    if (strstr(event_json, "\"event\":\"ended\"") != NULL) {
        strncpy(ended_text, event_json, sizeof ended_text - 1);
        ended = 1;
    }
}

int main(void) {
    int count = 0;
    KovaSession* session = kova_session_start("{\"device\":\"x\"}", on_event, &count);
    if (session == NULL) {
        fprintf(stderr, "no session\n");
        return 1;
    }
    /* Freeing interrupts a running session, so wait for it to end by itself first. */
    for (int waited = 0; !ended && waited < 5000; ++waited) {
        struct timespec millisecond = {0, 1000000};
        nanosleep(&millisecond, NULL);
    }
    kova_session_free(session);
    if (!ended || strncmp(ended_text, "{\"code\":1,\"event\":\"ended\",\"report\":{", 36) != 0) {
        fprintf(stderr, "unexpected end: %s\n", ended_text);
        return 1;
    }
    if (strstr(ended_text, "explicit_device_and_accessory_id_required_use_--list") == NULL) {
        fprintf(stderr, "missing validation code: %s\n", ended_text);
        return 1;
    }
    printf("%d events, last: %.80s...\n", count, ended_text);
    return 0;
}

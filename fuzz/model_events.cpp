// The model's handling of a session's event texts: the first byte picks an Android phone or an
// iPhone, the rest is split at newlines into events delivered to the running session, with
// virtual time passing between them so retries and restarts run too.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/model/doubles/model_parts.h"

namespace {

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "model_events: %s\n", why);
    std::abort();
}

void check(const kova::ConnectModel& model, const kova::test::FakeLibrary& library) {
    if (model.streaming() && model.phase() == kova::Phase::idle) {
        fail("streaming while idle");
    }
    int open = 0;
    for (const auto& session : library.sessions) {
        open += session.freed ? 0 : 1;
    }
    if (open > 1) {
        fail("more than one session left open");
    }
    if (model.phase() == kova::Phase::idle && open != 0) {
        fail("idle with a session left open");
    }
}

// A model with one phone listed and its session started (an iPhone's probe answered).
kova::ConnectModel& start_running(kova::test::ModelParts& rig, bool ios) {
    rig.settings->values["autoStart"] = false;
    rig.library->setPhones({ios ? kova::test::iPhone("ios:00008030001a", "iPhone", "udid")
                                : kova::test::androidPhone("1:1", "Nova", "One", "s1")});
    rig.library->probeAnswers = {1, 0, 1, -1, 1, 1, 1, 1};
    rig.make();
    rig.queue->advance(std::chrono::seconds(1));
    rig.model->setSelectedPath(ios ? "ios:00008030001a" : "1:1");
    rig.model->start();
    rig.background->runAll();
    rig.queue->runReady();
    return *rig.model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool ios = (data[0] & 1) != 0;
    kova::test::ModelParts rig;
    auto& model = start_running(rig, ios);
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string event(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!rig.library->sessions.empty() && !rig.library->last().freed) {
            rig.library->emit(event);
        }
        rig.queue->runReady();
        check(model, *rig.library);
        rig.queue->advance(std::chrono::milliseconds(1500));
        rig.background->runAll();
        rig.queue->runReady();
        check(model, *rig.library);
    }
    model.stop();
    rig.queue->runReady();
    return 0;
}

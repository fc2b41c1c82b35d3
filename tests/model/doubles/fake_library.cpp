#include "tests/model/doubles/fake_library.h"

#include <cstdlib>
#include <cstring>

namespace kova::test {

using nlohmann::json;

FakeLibrary::~FakeLibrary() = default;

void FakeLibrary::setPhones(const std::vector<json>& phones) {
    listText = json(phones).dump();
}

char* FakeLibrary::listDevices() {
    ++listCalls;
    if (!listText) {
        return nullptr;
    }
    char* text = static_cast<char*>(std::malloc(listText->size() + 1));
    std::memcpy(text, listText->c_str(), listText->size() + 1);
    return text;
}

void FakeLibrary::freeText(void* text) {
    if (text != nullptr) {
        ++textsFreed;
    }
    std::free(text);
}

int FakeLibrary::iosProbe(const char* path) {
    probes.emplace_back(path);
    if (probeAnswers.empty()) {
        return -1;
    }
    const int answer = probeAnswers.front();
    probeAnswers.pop_front();
    return answer;
}

KovaSession* FakeLibrary::sessionStart(const char* options, kova_event_callback callback,
                                       void* context) {
    if (refuseOptions) {
        return nullptr;
    }
    handles_.push_back(std::make_unique<char[]>(1));
    Started started;
    started.optionsText = options;
    started.options = json::parse(options);
    started.handle = reinterpret_cast<KovaSession*>(handles_.back().get());
    started.callback = callback;
    started.context = context;
    sessions.push_back(std::move(started));
    return sessions.back().handle;
}

void FakeLibrary::sessionStop(KovaSession*) {
    if (!sessions.empty()) {
        ++sessions.back().stops;
    }
}

void FakeLibrary::sessionFree(KovaSession* session) {
    ++freeCalls;
    for (auto& started : sessions) {
        if (started.handle == session) {
            started.freed = true;
        }
    }
}

void FakeLibrary::emit(const std::string& json) {
    const Started& session = sessions.back();
    session.callback(session.context, json.c_str());
}

json androidPhone(const std::string& path, const std::string& vendorName,
                  const std::string& productName, const std::string& serial, bool accessory) {
    return {{"accessory", accessory}, {"hub", false},      {"path", path},
            {"platform", "android"},  {"product", 0x4ee7}, {"productName", productName},
            {"serial", serial},       {"vendor", 0x18d1},  {"vendorName", vendorName}};
}

json iPhone(const std::string& path, const std::string& productName, const std::string& serial,
            bool trusted) {
    return {{"accessory", false},   {"hub", false},       {"path", path},
            {"platform", "ios"},    {"product", 0x12a8},  {"productName", productName},
            {"serial", serial},     {"trusted", trusted}, {"vendor", 1452},
            {"vendorName", "Apple"}};
}

std::string stateEvent(const std::string& state) {
    return json{{"event", "state"}, {"state", state}}.dump();
}

std::string statusEvent(const json& phone, double capturePeak, double captureSampleRate) {
    return json{{"capturePeak", capturePeak}, {"captureSampleRate", captureSampleRate},
                {"event", "status"},          {"framesSent", 9600},
                {"pacingMaxLateMs", 0.4},     {"phone", phone}}
        .dump();
}

std::string endedEvent(int code, const std::string& error) {
    json report{{"framesSent", 0}, {"transport", "aoa"}, {"version", "1.0.0"}};
    if (!error.empty()) {
        report["error"] = error;
        report["result"] = "error";
    } else {
        report["result"] = "ok";
    }
    return json{{"code", code}, {"event", "ended"}, {"report", report}}.dump();
}

}  // namespace kova::test

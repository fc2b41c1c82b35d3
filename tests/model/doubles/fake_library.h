#pragma once

#include <deque>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/model/ports/library.h"

namespace kova::test {

/// A scripted library: device lists, probe answers and sessions whose events the test sends.
class FakeLibrary : public Library {
  public:
    /// One session the model started.
    struct Started {
        nlohmann::json options;         ///< The parsed options document.
        std::string optionsText;        ///< The text as handed over.
        KovaSession* handle = nullptr;  ///< The handle returned.
        kova_event_callback callback = nullptr;
        void* context = nullptr;
        int stops = 0;       ///< kova_session_stop calls while this session was current.
        bool freed = false;  ///< kova_session_free was called with this handle.
    };

    ~FakeLibrary() override;

    // Script.
    std::optional<std::string> listText = "[]";  ///< What listDevices returns; none gives null.
    bool present = true;                         ///< devicePresent's answer.
    double sampleRate = 48000.0;                 ///< deviceSampleRate's answer.
    std::deque<int> probeAnswers;                ///< Next iosProbe answers; -1 when empty.
    bool refuseOptions = false;                  ///< sessionStart returns null.

    /// Sets the listed phones from JSON objects.
    void setPhones(const std::vector<nlohmann::json>& phones);

    // Record.
    std::vector<Started> sessions;    ///< Every session started, in order.
    std::vector<std::string> probes;  ///< Paths probed, in order.
    int listCalls = 0;                ///< listDevices calls.
    int textsFreed = 0;               ///< freeText calls with a listed text.
    int freeCalls = 0;                ///< sessionFree calls (null included).

    /// Delivers `json` through the last session's callback, as its worker would.
    void emit(const std::string& json);
    /// The last started session.
    Started& last() { return sessions.back(); }

    char* listDevices() override;
    void freeText(void* text) override;
    int iosProbe(const char* path) override;
    bool devicePresent() override { return present; }
    double deviceSampleRate() override { return sampleRate; }
    KovaSession* sessionStart(const char* options, kova_event_callback callback,
                              void* context) override;
    void sessionStop(KovaSession* session) override;
    void sessionFree(KovaSession* session) override;

  private:
    std::vector<std::unique_ptr<char[]>> handles_;
};

/// An Android entry as the library lists it.
nlohmann::json androidPhone(const std::string& path, const std::string& vendorName,
                            const std::string& productName, const std::string& serial,
                            bool accessory = false);
/// An iOS entry as the library lists it.
nlohmann::json iPhone(const std::string& path, const std::string& productName,
                      const std::string& serial, bool trusted = true);

/// {"event":"state","state":...}
std::string stateEvent(const std::string& state);
/// A status event with the phone's status object and the capture figures.
std::string statusEvent(const nlohmann::json& phone, double capturePeak, double captureSampleRate);
/// {"code":...,"event":"ended","report":{...}} with "error" and "result" set when failed.
std::string endedEvent(int code, const std::string& error = "");

}  // namespace kova::test

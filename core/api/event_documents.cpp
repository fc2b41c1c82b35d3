#include "core/api/event_documents.h"


namespace kova {
namespace {

double number_or_zero(const nlohmann::json& report, const char* key) {
    const auto found = report.find(key);
    if (found == report.end() || !found->is_number()) {
        return 0.0;
    }
    return found->get<double>();
}

// Events are written on the worker thread, where a throw would end the process: a string that
// is not valid UTF-8 (a device name, say) is written with replacement characters instead.
std::string event_text(const nlohmann::json& event) {
    return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string state_event(const std::string& state) {
    return event_text({{"event", "state"}, {"state", state}});
}

std::string report_event(const nlohmann::json& report) {
    return event_text({{"event", "report"}, {"report", report}});
}

std::string status_event(const nlohmann::json& report) {
    const auto phone = report.find("lastPhoneStatus");
    return event_text({
        {"event", "status"},
        {"phone", phone != report.end() ? *phone : nlohmann::json::object()},
        {"framesSent", report.at("framesSent")},
        {"pacingMaxLateMs", report.at("pacingMaxLateMs")},
        {"capturePeak", number_or_zero(report, "capturePeak")},
        {"captureSampleRate", number_or_zero(report, "captureSampleRate")},
    });
}

std::string ended_event(int code, const nlohmann::json& report) {
    return event_text({{"code", code}, {"event", "ended"}, {"report", report}});
}

}  // namespace kova

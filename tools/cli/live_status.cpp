#include "tools/cli/live_status.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <sstream>

#include "app/model/connect_model.h"

namespace kova::cli {
namespace {

using kova::ConnectModel;

double number_or(const nlohmann::json& object, const char* key, double fallback) {
    const auto found = object.find(key);
    return found != object.end() && found->is_number() ? found->get<double>() : fallback;
}

std::string elapsed_text(std::chrono::steady_clock::duration elapsed) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

// The application's own sentence for a failure; an error the phone reported reads like the
// same code raised on the desktop.
std::string plain_error_text(std::string code) {
    const std::string phone_prefix = "phone_error: ";
    for (size_t at; (at = code.find(phone_prefix)) != std::string::npos;) {
        code.erase(at, phone_prefix.size());
    }
    return ConnectModel::message(code, std::nullopt);
}

std::string yes_no(const nlohmann::json& report, const char* key) {
    const auto found = report.find(key);
    return found != report.end() && found->is_boolean() && found->get<bool>() ? "yes" : "no";
}

}  // namespace

std::string level_text(double peak) {
    if (peak <= 0.0) {
        return "silence";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(peak));
    return text;
}

void LiveStatus::apply(const nlohmann::json& event, std::chrono::steady_clock::time_point now) {
    const std::string kind = event.value("event", "");
    if (kind == "state") {
        state_ = event.value("state", "");
        if (state_ == "Streaming" && !streaming_) {
            streaming_ = true;
            streaming_since_ = now;
        }
    } else if (kind == "status") {
        frames_sent_ = event.value("framesSent", uint64_t{0});
        const nlohmann::json phone = event.value("phone", nlohmann::json::object());
        const double occupancy = number_or(phone, "occupancyMean", -1.0);
        buffer_ms_ = occupancy < 0 ? -1.0 : occupancy / 48.0;
        underruns_ = static_cast<long long>(number_or(phone, "underruns", -1.0));
        peak_ = number_or(event, "capturePeak", -1.0);
    } else if (kind == "report") {
        frames_sent_ = event["report"].value("framesSent", frames_sent_);
    }
}

std::string LiveStatus::line(std::chrono::steady_clock::time_point now) const {
    std::ostringstream out;
    out << (state_.empty() ? "Starting" : state_);
    out << "  " << elapsed_text(streaming_ ? now - streaming_since_ : now - now);
    out << "  frames " << frames_sent_;
    if (buffer_ms_ >= 0) {
        out << "  buffer " << static_cast<long long>(std::lround(buffer_ms_)) << " ms";
    }
    if (underruns_ >= 0) {
        out << "  underruns " << underruns_;
    }
    if (peak_ >= 0) {
        out << "  level " << level_text(peak_);
    }
    return out.str();
}

std::string summary_text(int code, const nlohmann::json& report) {
    std::ostringstream out;
    out << "result: " << report.value("result", "?") << " (exit " << code << ")\n";
    const uint64_t frames = report.value("framesSent", uint64_t{0});
    out << "frames sent: " << frames << " (" << static_cast<double>(frames) / 48000.0
        << " s of audio), pings answered: " << report.value("pingCount", 0) << "\n";
    out << "transport probe passed: " << yes_no(report, "transportProbePassed")
        << ", speaker verified: " << yes_no(report, "speakerVerified")
        << ", audio probe passed: " << yes_no(report, "audioProbePassed") << "\n";
    const std::string error = report.value("error", "");
    if (!error.empty()) {
        out << "error: " << error << "\n" << plain_error_text(error) << "\n";
    }
    return out.str();
}

}  // namespace kova::cli

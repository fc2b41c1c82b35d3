#include <algorithm>
#include <cmath>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/model/connect_model.h"

namespace kova {

namespace {

using nlohmann::json;

constexpr double framesPerMs = 48.0;
constexpr int longestReconnectSeconds = 10;

std::optional<double> numberMember(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found != object.end() && found->is_number()) {
        return found->get<double>();
    }
    return std::nullopt;
}

std::optional<long long> wholeNumberMember(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        return std::nullopt;
    }
    if (found->is_number_integer()) {
        return found->get<long long>();
    }
    if (found->is_number_float()) {
        const double value = found->get<double>();
        if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 9.0e15) {
            return static_cast<long long>(value);
        }
    }
    return std::nullopt;
}

std::string stringMember(const json& object, const char* key, const std::string& fallback) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : fallback;
}

json objectMember(const json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_object() ? *found : json::object();
}

std::string withoutPhoneErrorPrefix(std::string code) {
    static const std::string prefix = "phone_error: ";
    for (auto at = code.find(prefix); at != std::string::npos; at = code.find(prefix, at)) {
        code.erase(at, prefix.size());
    }
    return code;
}

int reconnectDelaySeconds(int retries) {
    return std::min(1 << std::min(retries, 4), longestReconnectSeconds);
}

}  // namespace

void ConnectModel::handle(const std::string& text) {
    const json event = json::parse(text, nullptr, false);
    if (event.is_discarded() || !event.is_object()) {
        return;
    }
    const auto kind = event.find("event");
    if (kind == event.end() || !kind->is_string()) {
        return;
    }
    if (*kind == "state") {
        handleState(event);
    } else if (*kind == "status") {
        handleStatus(event);
    } else if (*kind == "ended") {
        handleEnded(event);
    }
}

void ConnectModel::handleState(const json& event) {
    const std::string state = stringMember(event, "state", "");
    if (state == "Streaming") {
        publish(streaming_, true, Property::streaming);
        retries_ = 0;
    } else if (state == "Ready" && sessionPath_) {
        pair(*sessionPath_);
        publish(errorText_, std::optional<std::string>(), Property::errorText);
    }
    const auto found = stateNames().find(state);
    if (found != stateNames().end() && (phase_ == Phase::running || state == "Stopping")) {
        publish(stateText_, found->second, Property::stateText);
    }
}

void ConnectModel::handleStatus(const json& event) {
    const json phone = objectMember(event, "phone");
    if (const auto occupancy = numberMember(phone, "occupancyMean")) {
        publish(bufferMs_, std::optional<double>(*occupancy / framesPerMs), Property::bufferMs);
    }
    publish(underruns_, wholeNumberMember(phone, "underruns"), Property::underruns);
    publish(inputPeak_, numberMember(event, "capturePeak"), Property::inputPeak);
    if (streaming_ && phase_ == Phase::running) {
        const bool interrupted = stringMember(phone, "state", "") == "Interrupted";
        publish(
            stateText_,
            interrupted ? std::string("Paused on the phone (call)") : stateNames().at("Streaming"),
            Property::stateText);
    }
    if (const auto rate = numberMember(event, "captureSampleRate"); rate && *rate > 0) {
        publish(kovaSampleRate_, rate, Property::kovaSampleRate);
    }
}

void ConnectModel::handleEnded(const json& event) {
    KovaSession* ended = session_;
    session_ = nullptr;
    ports_.library->sessionFree(ended);
    publish(streaming_, false, Property::streaming);
    publish(inputPeak_, std::optional<double>(), Property::inputPeak);
    publish(bufferMs_, std::optional<double>(), Property::bufferMs);
    publish(underruns_, std::optional<long long>(), Property::underruns);

    const json report = objectMember(event, "report");
    const auto code = event.find("code");
    const bool failed = code != event.end() && code->is_number_integer() && *code == 1;
    const std::string errorCode = withoutPhoneErrorPrefix(stringMember(report, "error", "unknown"));

    refresh();
    const bool present = device(sessionPath_).has_value();
    if (failed) {
        publish(errorText_,
                present ? std::optional<std::string>(message(errorCode, device(sessionPath_)))
                        : std::nullopt,
                Property::errorText);
    }
    if (!(failed && keepRunning_ && present && scheduleRestart(errorCode))) {
        giveUp(present, failed);
    }
    writeReport(report);
}

bool ConnectModel::scheduleRestart(const std::string& errorCode) {
    if (permanentErrors().contains(errorCode)) {
        return false;
    }
    const Device entry = *device(sessionPath_);
    if (entry.ios) {
        if (appNotOpen().contains(errorCode)) {
            publish(errorText_, std::optional<std::string>(), Property::errorText);
            publish(stateText_, entry.waitingText(), Property::stateText);
        } else {
            publish(stateText_, "Waiting for the " + entry.name + "…", Property::stateText);
        }
        scheduleRetry(iosRetryDelay, false);
        return true;
    }
    const int delay = reconnectDelaySeconds(retries_);
    retries_ += 1;
    publish(stateText_, "Reconnecting in " + std::to_string(delay) + " s…", Property::stateText);
    scheduleRetry(std::chrono::seconds(delay), true);
    return true;
}

void ConnectModel::giveUp(bool present, bool failed) {
    keepRunning_ = false;
    publish(phase_, Phase::idle, Property::phase);
    if (!present) {
        userStopped_ = false;
        updateIdleText();
        scheduleAutoStart();
        return;
    }
    updateIdleText();
    if (failed) {
        publish(stateText_, std::string("Error"), Property::stateText);
    }
}

void ConnectModel::writeReport(const json& report) {
    std::string line;
    try {
        line = report.dump();
    } catch (const json::exception&) {
        return;
    }
    std::ostream& log = ports_.reportLog != nullptr ? *ports_.reportLog : std::cerr;
    log << line << '\n';
    log.flush();
}

}  // namespace kova

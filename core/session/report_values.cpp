#include "core/session/report_values.h"

namespace kova {

void add_count(nlohmann::json& report, const char* key, uint64_t amount) {
    const auto found = report.find(key);
    const uint64_t previous = found == report.end() ? 0 : found->get<uint64_t>();
    report[key] = previous + amount;
}

void add_integer(nlohmann::json& report, const char* key, int64_t amount) {
    const auto found = report.find(key);
    const int64_t previous = found == report.end() ? 0 : found->get<int64_t>();
    report[key] = previous + amount;
}

void raise_float(nlohmann::json& report, const char* key, double value) {
    const auto found = report.find(key);
    if (found == report.end() || found->get<double>() < value) {
        report[key] = value;
    }
}

double milliseconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

}  // namespace kova

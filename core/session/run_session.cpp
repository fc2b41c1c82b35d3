#include "core/session/run_session.h"

#include <exception>
#include <string>

#include "core/session/session_driver.h"
#include "core/transport/interrupt.h"

namespace kova {
namespace {

// The driver lives only inside this call, so everything a session owns is released before
// a failure reaches the handler below.
int run_validated(const SessionOptions& options, nlohmann::json& report,
                  const SessionHooks& hooks) {
    SessionDriver driver(options, report, hooks);
    return driver.run();
}

int end_with_failure(const std::exception& failure, nlohmann::json& report,
                     const SessionHooks& hooks) {
    const std::string code = failure.what();
    const bool cancelled = is_interrupted() || code == "cancelled";
    report["result"] = cancelled ? "cancelled" : "error";
    if (!cancelled) {
        report["error"] = code;
    }
    if (hooks.on_report) {
        try {
            hooks.on_report(report);
        } catch (...) {
        }
    }
    return cancelled ? 130 : 1;
}

}  // namespace

int run_session(const SessionOptions& options, nlohmann::json& report, const SessionHooks& hooks) {
    try {
        validate_options(options);
        return run_validated(options, report, hooks);
    } catch (const std::exception& failure) {
        return end_with_failure(failure, report, hooks);
    }
}

}  // namespace kova

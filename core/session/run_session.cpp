#include "core/session/run_session.h"

#include <exception>
#include <string>

#include "core/transport/error.h"
#include "core/transport/interrupt.h"

namespace kova {
namespace {

// Everything between validation and the final report. Links are not built yet, so a
// session that passes validation ends here with a code saying so.
int run_validated(const SessionOptions& options, nlohmann::json& report,
                  const SessionHooks& hooks) {
    (void)options;
    (void)report;
    (void)hooks;
    throw Error("link_not_available");
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

#include "core/session/report.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>

namespace kova {

nlohmann::json default_report() {
    nlohmann::json report = {
        {"version", kVersion},
        {"build", kBuild},
        {"phase", "gate1"},
        {"transport", ""},
        {"audioPlaybackImplemented", true},
        {"controlTimeoutMs", 5000},
        {"statusIntervalMs", 500},
        {"reEnumerationTimeoutMs", 10000},
        {"usbReadBytes", 16384},
        {"usbQueueCapacity", 1},
        {"pingCount", 0},
        {"usbBytesSent", 0u},
        {"usbBytesReceived", 0u},
        {"transportProbePassed", false},
        {"debugDisabledVerified", false},
        {"hardwareGatePassed", false},
        {"gate2Qualified", false},
        {"framesSent", 0u},
        {"pacingMaxLateMs", 0.0},
        {"usbErrors", 0},
        {"maxReadMs", 0.0},
        {"maxWriteMs", 0.0},
        {"maxReportMs", 0.0},
    };
    utsname names;
    std::memset(&names, 0, sizeof names);
    ::uname(&names);
    report["osKernel"] = std::string(names.release);
    report["architecture"] = std::string(names.machine);
    report["runningAsRoot"] = ::geteuid() == 0;
    return report;
}

}  // namespace kova

#include "tools/cli/doctor_command.h"

#include <iostream>

#include "tools/cli/doctor.h"
#include "tools/cli/doctor_probes.h"

namespace kova::cli {

int doctor_command(bool json) {
    const auto checks = diagnose(gather_facts(system_sources()));
    if (json) {
        std::cout << doctor_json(checks).dump() << std::endl;
    } else {
        std::cout << doctor_text(checks) << std::flush;
    }
    return doctor_exit_status(checks);
}

}  // namespace kova::cli

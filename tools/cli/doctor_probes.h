#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tools/cli/doctor.h"

namespace kova::cli {

/// The user a device node is checked for.
struct Identity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    /// This process's effective user, group and supplementary groups.
    static Identity effective();
};

/// Whether `who` may open `node` for reading and writing. For this process's own identity the
/// kernel decides (access control lists included); for any other, the permission bits do.
bool may_open(const std::string& node, const Identity& who);

/// Where the system's facts come from; tests replace the parts they cannot arrange for real.
struct DoctorSources {
    std::vector<std::string> rules_dirs = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                           "/usr/lib/udev/rules.d", "/lib/udev/rules.d",
                                           "/usr/local/lib/udev/rules.d"};
    /// The attached phones, without `may_open` filled in.
    std::function<std::vector<PhoneFacts>()> phones;
    Identity who = Identity::effective();
    std::chrono::milliseconds level_window{1000};
    std::function<bool()> realtime_allowed;
};

/// The sources of a real run: phones from USB and usbmuxd, realtime tried on a thread.
DoctorSources system_sources();

/// Fills server, device and level facts from the server PULSE_SERVER (or the default) names.
void read_sound_facts(DoctorFacts& facts, std::chrono::milliseconds level_window);

/// Whether usbmuxd (or what USBMUXD_SOCKET_ADDRESS names) accepts a connection; `address`
/// receives where it was looked for.
bool usbmuxd_answers(std::string& address);

/// The first `70-kova-connect.rules` in `dirs`; empty when none holds it.
std::string find_udev_rules(const std::vector<std::string>& dirs);

/// Reads every fact the checks need.
DoctorFacts gather_facts(const DoctorSources& sources);

}  // namespace kova::cli

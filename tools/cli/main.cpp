// kova: runs one KOVA Connect session, lists phones or probes an iPhone from the command line.
#include <CLI/CLI.hpp>
#include <iostream>

#include "tools/cli/cli_options.h"
#include "tools/cli/device_commands.h"
#include "tools/cli/doctor_command.h"
#include "tools/cli/session_command.h"

namespace {

using kova::cli::CliOptions;

constexpr int kUsageError = 2;

void define_flags(CLI::App& app, CliOptions& options) {
    app.add_option("--device", options.device, "Phone to use, as listed by --list");
    app.add_option("--accessory-id", options.accessory_id, "Accessory identity (Android phones)");
    auto* kova_device = app.add_flag("--kova-device", options.kova_device,
                                     "Stream what plays into the KOVA device");
    auto* signal = app.add_option("--signal", options.signal, "Stream a test signal")
                       ->check(CLI::IsMember({"sine", "silence", "impulse", "lr", "sweep"}));
    auto* wav =
        app.add_option("--wav", options.wav, "Stream a WAV file (PCM 16-bit stereo 48 kHz)");
    app.add_flag("--loop", options.loop, "Repeat the WAV file")->needs(wav);
    app.add_option("--seconds", options.seconds, "Stop after this many seconds (0: until Ctrl-C)")
        ->check(CLI::Range(0, 7200));
    app.add_option("--hello-timeout-ms", options.hello_timeout_ms,
                   "Time allowed for the phone's hello")
        ->check(CLI::Range(1000, 120000));
    auto* list = app.add_flag("--list", options.list, "List attached phones");
    auto* probe = app.add_option("--probe", options.probe, "Check that KOVA listens on an iPhone");
    app.add_flag("--json", options.json, "Machine-readable output: one JSON document a line");
    auto* install = app.add_flag("--install-device", options.install_device,
                                 "Create the KOVA device on the running sound server");
    app.add_option("--rate", options.rate, "Sample rate of the device to create (default 48000)")
        ->check(CLI::Range(8000, 384000))
        ->needs(install);
    auto* remove =
        app.add_flag("--remove-device", options.remove_device, "Remove the KOVA device again");
    auto* doctor =
        app.add_flag("--doctor", options.doctor,
                     "Check the set-up for streaming and say how to fix what is missing");
    doctor->excludes(install)->excludes(remove)->excludes(list)->excludes(probe);
    install->excludes(remove)->excludes(list)->excludes(probe);
    remove->excludes(list)->excludes(probe);
    signal->excludes(wav);
    kova_device->excludes(signal)->excludes(wav);
    list->excludes(probe);
}

int usage_error(const std::string& what) {
    std::cerr << "kova: " << what << "\n"
              << "Run `kova --list` to see the attached phones, `kova --help` for all options.\n";
    return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"KOVA Connect: play the desktop's audio on a phone's speaker over USB", "kova"};
    CliOptions options;
    define_flags(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        return usage_error(error.what());
    }
    if (options.doctor) {
        return kova::cli::doctor_command(options.json);
    }
    if (options.install_device) {
        return kova::cli::install_device_command(options.rate, options.json);
    }
    if (options.remove_device) {
        return kova::cli::remove_device_command(options.json);
    }
    if (options.list) {
        return kova::cli::list_devices_command(options.json);
    }
    if (!options.probe.empty()) {
        return kova::cli::probe_command(options.probe.c_str(), options.json);
    }
    if (options.device.empty()) {
        return usage_error("no phone chosen: give --device PATH");
    }
    return kova::cli::run_session_command(options);
}

// kova-phone: the phone app's side of the protocol on a TCP port, or behind a usbmux socket
// as an attached iPhone, for tests and trials.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "core/transport/ios_id.h"
#include "tools/phone/phone_app.h"
#include "tools/phone/session_loop.h"
#include "tools/phone/signal_watch.h"
#include "tools/phone/tcp_listener.h"
#include "tools/phone/usbmux_acceptor.h"

int main(int argc, char** argv) {
    using namespace kova::phone;
    CLI::App cli{
        "Emulates the KOVA phone app: serves one desktop session at a time.\n"
        "SIGUSR1 closes the app (ends the session, refuses new ones), SIGUSR2 opens it again.",
        "kova-phone"};
    PhoneOptions options;
    std::string listen = "127.0.0.1:48000";
    uint64_t sessions = 0;
    cli.add_option("--listen", listen, "HOST:PORT to listen on; port 0 picks a free port")
        ->capture_default_str();
    cli.add_option("--role", options.role, "role announced in the hello")
        ->check(CLI::IsMember({"ios", "android"}))
        ->capture_default_str();
    cli.add_option("--misbehave", options.misbehaviour, "misbehave in the named way")
        ->check(CLI::IsMember(PhoneApp::misbehaviours()));
    cli.add_option("--record", options.record_path, "WAV file of what would be played");
    cli.add_option("--sessions", sessions, "exit after this many sessions; 0: never")
        ->capture_default_str();
    cli.add_option("--status-interval-ms", options.status_interval_ms, "period of status messages")
        ->check(CLI::Range(1u, 60000u))
        ->capture_default_str();
    cli.add_option("--prefill-frames", options.playout_prefill_frames,
                   "playout buffer fill before playing starts")
        ->capture_default_str();
    cli.add_option("--stale-bytes", options.stale_bytes,
                   "bytes sent before the session with --misbehave stale_bytes")
        ->capture_default_str();
    cli.add_option("--ping-interval-ms", options.ping_interval_ms,
                   "period of the phone's own pings; 0: none")
        ->capture_default_str();
    std::string arrivals_path;
    cli.add_option("--arrivals", arrivals_path,
                   "append a line per audio message to this file: arrival time on the "
                   "monotonic clock in ns, frames, peak of the left channel");
    std::string usbmux_path;
    UsbmuxServerOptions usbmux;
    UsbmuxDevice& iphone = usbmux.devices.front();
    bool untrusted = false;
    bool app_closed = false;
    cli.add_option("--usbmux", usbmux_path,
                   "present an attached iPhone behind a usbmux socket at PATH instead of TCP");
    cli.add_option("--serial", iphone.serial, "the iPhone's serial number (with --usbmux)")
        ->capture_default_str();
    cli.add_option("--product-id", iphone.product_id, "its USB product id")->capture_default_str();
    cli.add_option("--location-id", iphone.location_id, "its USB location id")
        ->capture_default_str();
    cli.add_flag("--untrusted", untrusted, "the iPhone is not paired with this computer");
    cli.add_flag("--app-closed", app_closed, "nothing listens on the phone app's port");
    CLI11_PARSE(cli, argc, argv);
    iphone.trusted = !untrusted;
    usbmux.app_open = !app_closed;
    options.keep_samples = false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> arrivals(nullptr, &std::fclose);
    if (!arrivals_path.empty()) {
        arrivals.reset(std::fopen(arrivals_path.c_str(), "a"));
        if (!arrivals) {
            std::cerr << "kova-phone: cannot open " << arrivals_path << std::endl;
            return 1;
        }
        options.on_audio = [file = arrivals.get()](std::chrono::steady_clock::time_point at,
                                                   const int16_t* interleaved, size_t samples) {
            const auto ns =
                std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
            int peak = 0;
            for (size_t i = 0; i < samples; i += 2) {
                peak = std::max(peak, std::abs(static_cast<int>(interleaved[i])));
            }
            std::fprintf(file, "%lld %zu %d\n", static_cast<long long>(ns), samples / 2, peak);
        };
    }

    try {
        SignalWatch signals;
        if (!usbmux_path.empty()) {
            UsbmuxAcceptor acceptor(usbmux_path, usbmux);
            std::cout << kova::ios_id(iphone.serial) << std::endl;
            return serve_sessions(acceptor, options, sessions, signals, std::cout);
        }
        TcpListener listener(listen);
        std::cout << listener.port() << std::endl;
        return serve_sessions(listener, options, sessions, signals, std::cout);
    } catch (const std::exception& error) {
        std::cerr << "kova-phone: " << error.what() << std::endl;
        return 1;
    }
}

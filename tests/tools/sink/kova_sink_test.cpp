#include "tools/cli/kova_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "core/audio/device_capture.h"
#include "core/session/session_options.h"
#include "core/transport/error.h"
#include "tests/support/pulse_server.h"

namespace kova::cli {
namespace {

using test::PulseServer;

template <class F>
std::string failure_of(F action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

double device_rate() {
    return DeviceCapture::nominal_rate(DeviceCapture::find(kKovaDeviceUid));
}

TEST(KovaSink, InstallsAtTheRequestedRateAndRemovesAgain) {
    PulseServer server(0);
    ASSERT_TRUE(server.ready()) << server.log();
    install_kova_sink(44100);
    EXPECT_EQ(device_rate(), 44100.0);
    EXPECT_EQ(failure_of([] { install_kova_sink(); }), "kova_device_already_installed");
    remove_kova_sink();
    EXPECT_EQ(DeviceCapture::find(kKovaDeviceUid), 0u);
    EXPECT_EQ(failure_of([] { remove_kova_sink(); }), "kova_device_not_found");
}

TEST(KovaSink, TheInstalledDeviceCarriesFloatAudioToTheCapture) {
    PulseServer server(0);
    ASSERT_TRUE(server.ready()) << server.log();
    install_kova_sink();
    EXPECT_EQ(device_rate(), 48000.0);
    DeviceCapture capture(kKovaDeviceUid);
    capture.start();
    test::SinkPlayer player(48000);
    ASSERT_TRUE(player.write(test::stereo_sine(500.0, 48000, 4800, 0.25f)) && player.drain());
    // The last fragments reach the capture a moment after the player has drained.
    float peak = 0.0f;
    for (int wait = 0; wait < 200 && peak < 0.25f; ++wait) {
        peak = std::max(peak, capture.take_peak());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(peak, 0.25f);
}

TEST(KovaSink, RefusesRatesTheCaptureCannotConvert) {
    EXPECT_EQ(failure_of([] { install_kova_sink(7999); }), "invalid_rate");
    EXPECT_EQ(failure_of([] { install_kova_sink(384001); }), "invalid_rate");
}

TEST(KovaSink, WithoutAServerNothingCanBeDone) {
    PulseServer server(0);
    ASSERT_TRUE(server.ready()) << server.log();
    server.kill_now();
    EXPECT_EQ(failure_of([] { install_kova_sink(); }), "audio_server_unreachable");
    EXPECT_EQ(failure_of([] { remove_kova_sink(); }), "audio_server_unreachable");
}

}  // namespace
}  // namespace kova::cli

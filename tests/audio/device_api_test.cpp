// The device checks of the C interface, through libkova.so, against a private audio server.
#include <gtest/gtest.h>

#include "core/api/kova.h"
#include "tests/support/pulse_server.h"

namespace {

using kova::test::PulseServer;

TEST(DeviceApi, ReportsTheSinkAndItsRate) {
    PulseServer server(96000);
    ASSERT_TRUE(server.ready()) << server.log();
    EXPECT_TRUE(kova_device_present());
    EXPECT_EQ(kova_device_sample_rate(), 96000.0);
}

TEST(DeviceApi, AMissingSinkIsAbsentWithRateZero) {
    PulseServer server(0);
    ASSERT_TRUE(server.ready()) << server.log();
    EXPECT_FALSE(kova_device_present());
    EXPECT_EQ(kova_device_sample_rate(), 0.0);
}

TEST(DeviceApi, ASinkLoadedLaterIsSeen) {
    PulseServer server(0);
    ASSERT_TRUE(server.ready()) << server.log();
    ASSERT_FALSE(kova_device_present());
    server.load_kova_sink(22050);
    EXPECT_TRUE(kova_device_present());
    EXPECT_EQ(kova_device_sample_rate(), 22050.0);
}

TEST(DeviceApi, NoServerMeansNoDevice) {
    PulseServer server(48000);
    ASSERT_TRUE(server.ready()) << server.log();
    server.kill_now();
    EXPECT_FALSE(kova_device_present());
    EXPECT_EQ(kova_device_sample_rate(), 0.0);
}

}  // namespace

// The device checks of the C interface, through libkova.so, against a private audio server.
#include <gtest/gtest.h>

#include "core/api/kova.h"
#include "tests/support/pulse_server.h"

namespace {

using kova::test::PulseServer;

TEST(DeviceApi, FollowsTheSinkAndTheServer) {
    PulseServer server(0);
    ASSERT_TRUE(server.ready()) << server.log();
    EXPECT_FALSE(kova_device_present());
    EXPECT_EQ(kova_device_sample_rate(), 0.0);
    server.load_kova_sink(96000);  // a sink loaded later is seen, with its rate
    EXPECT_TRUE(kova_device_present());
    EXPECT_EQ(kova_device_sample_rate(), 96000.0);
    server.kill_now();
    EXPECT_FALSE(kova_device_present());
    EXPECT_EQ(kova_device_sample_rate(), 0.0);
}

}  // namespace

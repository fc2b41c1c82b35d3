// Start/stop/free cycles through the C interface against kova-phone as an iPhone, stopping and
// freeing at random points: one "ended" per session before free returns, and nothing grows.
// KOVA_REPEAT_CYCLES sets the number of cycles (1000 for the full run), KOVA_REPEAT_SEED the
// seed.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>

#include "core/api/kova.h"
#include "core/transport/ios_id.h"
#include "tests/support/phone_child.h"
#include "tests/support/process_counts.h"
#include "tests/support/usbmux_socket_dir.h"

namespace {

using nlohmann::json;

constexpr const char* kSerial = "00008101-000A1B2C3D4E5F60";

struct Endings {
    std::atomic<int> ended{0};
    std::atomic<int> after_end{0};
    static void on_event(void* context, const char* text) {
        auto* endings = static_cast<Endings*>(context);
        if (endings->ended.load() > 0) {
            endings->after_end.fetch_add(1);
        }
        if (json::parse(text)["event"] == "ended") {
            endings->ended.fetch_add(1);
        }
    }
};

long environment_number(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::strtol(text, nullptr, 10) : fallback;
}

void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TEST(RepeatedSessions, CyclesEndOnceAndLeaveNothingBehind) {
    const long cycles = environment_number("KOVA_REPEAT_CYCLES", 100);
    const auto seed = static_cast<unsigned>(environment_number("KOVA_REPEAT_SEED", 20261207));
    SCOPED_TRACE("seed " + std::to_string(seed) + " (KOVA_REPEAT_SEED)");
    std::mt19937 random(seed);

    // The emulator runs in a process of its own, so that only the library's memory, descriptors
    // and threads are counted here.
    kova::test::UsbmuxSocketDir socket;
    kova::test::PhoneChild phone(
        {"--usbmux", socket.path(), "--serial", kSerial, "--status-interval-ms", "50"});
    ASSERT_EQ(phone.line(), kova::ios_id(kSerial));
    const std::string streaming = json{
        {"device", kova::ios_id(kSerial)},
        {"signal", "sine"},
        {"helloTimeoutMs", 5000}}.dump();
    // An unknown iPhone: the session ends by itself within milliseconds, racing the free.
    const std::string ending = json{{"device", "ios:0000000000ff"}}.dump();

    int fds = 0;
    int tasks = 0;
    size_t heap = 0;
    const long settled = std::min(cycles - 1, 10L);
    for (long cycle = 0; cycle < cycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const int kind = static_cast<int>(random() % 4);
        Endings endings;
        KovaSession* session = kova_session_start((kind == 3 ? ending : streaming).c_str(),
                                                  &Endings::on_event, &endings);
        ASSERT_NE(session, nullptr);
        sleep_ms(static_cast<int>(random() % 150));
        if (kind == 1 || kind == 2) {
            kova_session_stop(session);
            sleep_ms(kind == 2 ? static_cast<int>(random() % 40) : 0);
        }
        kova_session_free(session);
        ASSERT_EQ(endings.ended.load(), 1);
        sleep_ms(1);
        ASSERT_EQ(endings.after_end.load(), 0);
        phone.discard_output();
        if (cycle == settled) {
            fds = kova::test::descriptor_count();
            tasks = kova::test::task_count();
            heap = mallinfo2().uordblks;
        }
    }
    EXPECT_EQ(kova::test::descriptor_count(), fds);
    EXPECT_EQ(kova::test::task_count(), tasks);
    EXPECT_LT(mallinfo2().uordblks, heap + 256 * 1024);
}

}  // namespace

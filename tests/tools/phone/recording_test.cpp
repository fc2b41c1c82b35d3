#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

#include "tests/tools/phone/scripted_desktop.h"
#include "tools/phone/wav_recorder.h"

namespace kova::phone::test {
namespace {

using namespace std::chrono_literals;

class PhoneRecording : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kova-phone-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    std::vector<uint8_t> read_file(const std::string& name) const {
        std::ifstream in(directory_ / name, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    static uint32_t u32(const std::vector<uint8_t>& bytes, size_t at) {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24;
    }
    static uint16_t u16(const std::vector<uint8_t>& bytes, size_t at) {
        return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
    }

    std::filesystem::path directory_;
};

TEST_F(PhoneRecording, WritesAStereo48kPcm16Header) {
    const std::vector<int16_t> samples = {1, -1, 32767, -32768, 256, 0};
    {
        WavRecorder recorder((directory_ / "a.wav").string());
        recorder.append(samples.data(), samples.size());
        EXPECT_EQ(recorder.data_bytes(), 12u);
    }
    const std::vector<uint8_t> file = read_file("a.wav");
    ASSERT_EQ(file.size(), 44u + 12u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(u32(file, 4), 36u + 12u);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(u32(file, 16), 16u);
    EXPECT_EQ(u16(file, 20), 1u);  // PCM
    EXPECT_EQ(u16(file, 22), 2u);
    EXPECT_EQ(u32(file, 24), 48000u);
    EXPECT_EQ(u32(file, 28), 192000u);
    EXPECT_EQ(u16(file, 32), 4u);
    EXPECT_EQ(u16(file, 34), 16u);
    EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
    EXPECT_EQ(u32(file, 40), 12u);
    EXPECT_EQ(file[44 + 4], 0xFF);  // 32767 little-endian
    EXPECT_EQ(file[44 + 5], 0x7F);
    EXPECT_EQ(file[44 + 7], 0x80);  // -32768
}

TEST_F(PhoneRecording, AnUnwritablePathIsRefused) {
    EXPECT_THROW(WavRecorder((directory_ / "missing" / "a.wav").string()), std::runtime_error);
}

// The arrival hook sees the same messages as the recording, in order, as they come.
TEST_F(PhoneRecording, TheRecordingOfASessionEqualsTheSamplesSent) {
    PhoneOptions options;
    options.record_path = (directory_ / "session.wav").string();
    std::vector<int16_t> observed;
    std::vector<size_t> observed_counts;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    const auto before = std::chrono::steady_clock::now();
    options.on_audio = [&](std::chrono::steady_clock::time_point at, const int16_t* samples,
                           size_t count) {
        observed.insert(observed.end(), samples, samples + count);
        observed_counts.push_back(count);
        arrivals.push_back(at);
    };
    std::vector<int16_t> sent;
    {
        ScriptedDesktop desktop(options);
        ASSERT_TRUE(desktop.open_stream());
        uint64_t frame = 0;
        for (size_t frames : {192, 192, 1, 191, 192, 64}) {
            const std::vector<int16_t> block = test_samples(frame, frames);
            desktop.send_audio(block, frame);
            sent.insert(sent.end(), block.begin(), block.end());
            frame += frames;
        }
        desktop.send(Type::Stop);
        desktop.finish();
    }
    const std::vector<uint8_t> file = read_file("session.wav");
    ASSERT_EQ(file.size(), 44 + sent.size() * 2);
    EXPECT_EQ(u32(file, 40), sent.size() * 2);
    std::vector<int16_t> recorded(sent.size());
    for (size_t i = 0; i < recorded.size(); ++i) {
        recorded[i] = static_cast<int16_t>(u16(file, 44 + 2 * i));
    }
    EXPECT_EQ(recorded, sent);
    EXPECT_EQ(observed, sent);
    EXPECT_EQ(observed_counts, (std::vector<size_t>{384, 384, 2, 382, 384, 128}));
    ASSERT_EQ(arrivals.size(), 6u);
    EXPECT_GE(arrivals.front(), before);
    EXPECT_TRUE(std::is_sorted(arrivals.begin(), arrivals.end()));
}

TEST(PhoneStop, StopEndsAServeThatIsWaitingForTheDesktop) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    PhoneApp app(PhoneOptions{});
    auto served = std::async(std::launch::async, [&app, fd = fds[1]] { return app.serve(fd); });
    std::this_thread::sleep_for(50ms);
    app.stop();
    ASSERT_EQ(served.wait_for(10s), std::future_status::ready);  // bound for a hung serve
    served.get();
    char byte;
    EXPECT_EQ(::recv(fds[0], &byte, 1, 0), 0);  // serve closed its socket
    ::close(fds[0]);
}

TEST(PhoneStop, StopEndsAStreamingSessionAndKeepsWhatWasMeasured) {
    ScriptedDesktop desktop;
    ASSERT_TRUE(desktop.greet());
    desktop.send_ping(5);
    ASSERT_TRUE(desktop.next_of(Type::Pong));
    const PhoneSummary summary = desktop.stop_phone();
    EXPECT_EQ(summary.pings_answered, 1u);
    EXPECT_TRUE(desktop.peer_closed(5s));
}

TEST(PhoneStop, AStopBeforeServeMakesServeReturnAtOnce) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    PhoneApp app(PhoneOptions{});
    app.stop();
    auto served = std::async(std::launch::async, [&app, fd = fds[1]] { return app.serve(fd); });
    ASSERT_EQ(served.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(served.get().frames_received, 0u);
    ::close(fds[0]);
}

TEST(PhoneStop, ADescriptorThatIsNotOpenEndsServeAtOnce) {
    PhoneApp app(PhoneOptions{});
    auto served = std::async(std::launch::async, [&app] { return app.serve(-1); });
    ASSERT_EQ(served.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(served.get().pings_answered, 0u);
}

}  // namespace
}  // namespace kova::phone::test

#include "core/audio/device_capture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "core/audio/resampler.h"
#include "core/transport/error.h"
#include "tests/support/pulse_server.h"

namespace kova {
namespace {

using namespace std::chrono_literals;
using test::PulseServer;
using test::SinkPlayer;

constexpr const char* kUid = "com.brenvale.kova.device";

std::string construction_failure() {
    try {
        DeviceCapture capture(kUid);
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

// A sink that starts running rewinds and loses its first few frames; the lead-in of silence
// takes that loss so that every numbered frame arrives.
constexpr size_t kLeadIn = 4800;

// Distinct, exactly representable values: frame i holds (i+1)/32768 left and its negative right.
std::vector<float> numbered_frames(size_t frames) {
    std::vector<float> samples(2 * frames);
    for (size_t i = 0; i < frames; ++i) {
        samples[2 * i] = static_cast<float>(i % 30000 + 1) / 32768.0f;
        samples[2 * i + 1] = -samples[2 * i];
    }
    return samples;
}

std::vector<float> with_lead_in(const std::vector<float>& samples) {
    std::vector<float> played(2 * kLeadIn, 0.0f);
    played.insert(played.end(), samples.begin(), samples.end());
    return played;
}

// Plays `samples` after a short silence into the KOVA sink on a thread of its own.
class BackgroundPlayer {
  public:
    BackgroundPlayer(unsigned rate, std::vector<float> samples)
        : thread_([this, rate, samples = with_lead_in(samples)] {
              SinkPlayer player(rate);
              ok_ = player.write(samples) && player.drain();
              done_.store(true, std::memory_order_release);
          }) {}
    ~BackgroundPlayer() { thread_.join(); }
    bool done() const { return done_.load(std::memory_order_acquire); }
    bool ok() const { return ok_; }

  private:
    std::atomic<bool> done_{false};
    bool ok_ = false;
    std::thread thread_;
};

// True until `grace` after `finished()` first held, or until a limit that stops a hung test.
class Deadline {
  public:
    explicit Deadline(std::chrono::milliseconds grace) : grace_(grace) {}
    bool running(bool finished) {
        const auto now = std::chrono::steady_clock::now();
        if (finished && !finished_) {
            finished_ = true;
            finished_at_ = now;
        }
        return now < limit_ && (!finished_ || now < finished_at_ + grace_);
    }

  private:
    std::chrono::milliseconds grace_;
    std::chrono::steady_clock::time_point limit_ = std::chrono::steady_clock::now() + 20s;
    bool finished_ = false;
    std::chrono::steady_clock::time_point finished_at_;
};

// Drains the capture while the player plays, and a little longer.
std::vector<float> record_while(DeviceCapture& capture, const BackgroundPlayer& player) {
    std::vector<float> recorded;
    std::vector<float> block(2 * 1024);
    for (Deadline deadline(300ms); deadline.running(player.done());) {
        const size_t count = capture.read(block.data(), 1024);
        recorded.insert(recorded.end(), block.begin(), block.begin() + 2 * count);
        std::this_thread::sleep_for(2ms);
    }
    return recorded;
}

size_t first_sounding_frame(const std::vector<float>& samples) {
    for (size_t i = 0; i < samples.size() / 2; ++i) {
        if (samples[2 * i] != 0.0f) {
            return i;
        }
    }
    return samples.size() / 2;
}

bool eventually(const std::function<bool()>& condition) {
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (!condition() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

TEST(DeviceCaptureLookup, FindsTheSinkAndItsRateOnlyWhileBothItAndTheServerExist) {
    PulseServer server(0);
    ASSERT_TRUE(server.ready()) << server.log();
    EXPECT_EQ(DeviceCapture::find(kUid), 0u);
    EXPECT_EQ(construction_failure(), "kova_device_not_found");

    server.load_kova_sink(44100);
    const uint32_t device = DeviceCapture::find(kUid);
    EXPECT_NE(device, 0u);
    EXPECT_EQ(DeviceCapture::nominal_rate(device), 44100.0);
    EXPECT_EQ(DeviceCapture::nominal_rate(device + 7), 0.0);
    {
        DeviceCapture capture(kUid);
        EXPECT_EQ(capture.device(), device);
        EXPECT_EQ(capture.rate.load(), 44100.0);
        EXPECT_EQ(capture.available(), 0u);
    }

    server.kill_now();
    EXPECT_EQ(DeviceCapture::find(kUid), 0u);
    EXPECT_EQ(DeviceCapture::nominal_rate(device), 0.0);
    EXPECT_EQ(construction_failure(), "kova_device_not_found");
}

class DeviceCaptureAt48k : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server.ready()) << server.log(); }
    PulseServer server{48000};
};

// At the sink's own rate nothing converts the floats: what is played comes back bit for bit,
// across more frames than the ring holds, so positions wrap on the way.
TEST_F(DeviceCaptureAt48k, PlayedFloatsComeBackBitExact) {
    DeviceCapture capture(kUid);
    capture.start();
    const auto played = numbered_frames(48000);
    BackgroundPlayer player(48000, played);
    const auto recorded = record_while(capture, player);
    ASSERT_TRUE(player.ok());
    // No played sample is 0, so the silence a busy server inserts is left out; a server
    // that falls behind may also skip a few frames. Everything heard must be a played frame,
    // unchanged and in order.
    size_t next = 0;
    size_t skipped = 0;
    for (size_t i = 0; i + 1 < recorded.size(); i += 2) {
        if (recorded[i] == 0.0f && recorded[i + 1] == 0.0f) {
            continue;
        }
        const size_t before = next;
        while (next < played.size() / 2 &&
               (played[2 * next] != recorded[i] || played[2 * next + 1] != recorded[i + 1])) {
            ++next;
        }
        ASSERT_LT(next, played.size() / 2) << "recorded frame " << i / 2 << " was never played";
        skipped += next - before;
        ++next;
    }
    skipped += played.size() / 2 - next;
    EXPECT_LE(skipped, 480u) << "frames lost";
    EXPECT_GT(capture.ring().read_count(), SampleRing::kFrames);
    EXPECT_EQ(capture.overflow_frames.load(), 0u);
}

TEST_F(DeviceCaptureAt48k, AStalledReaderOverflowsAndKeepsWhatIsBuffered) {
    DeviceCapture capture(kUid);
    capture.start();
    const auto played = numbered_frames(48000);
    {
        SinkPlayer player(48000);
        ASSERT_TRUE(player.write(with_lead_in(played)) && player.drain());
    }
    EXPECT_EQ(capture.available(), SampleRing::kFrames);
    EXPECT_GE(capture.overflow_frames.load(), 48000u - SampleRing::kFrames);

    std::vector<float> buffered(2 * SampleRing::kFrames);
    ASSERT_EQ(capture.read(buffered.data(), SampleRing::kFrames), SampleRing::kFrames);
    const size_t first = first_sounding_frame(buffered);
    ASSERT_LT(first, SampleRing::kFrames);
    const size_t kept = SampleRing::kFrames - first;
    const auto mismatch =
        std::mismatch(buffered.begin() + 2 * first, buffered.end(), played.begin());
    EXPECT_TRUE(mismatch.first == buffered.end())
        << "first " << first << " differs at " << (mismatch.second - played.begin()) << ": "
        << *mismatch.first << " vs " << *mismatch.second;
    EXPECT_GT(kept, SampleRing::kFrames / 2);
}

TEST_F(DeviceCaptureAt48k, PeakFollowsThePlayedLevel) {
    DeviceCapture capture(kUid);
    capture.start();
    BackgroundPlayer player(48000, test::stereo_sine(1000.0, 48000, 9600, 0.5f));
    record_while(capture, player);
    const float peak = capture.take_peak();
    EXPECT_LE(peak, 0.5f);
    EXPECT_GT(peak, 0.49f);
    EXPECT_EQ(capture.take_peak(), 0.0f);
}

TEST_F(DeviceCaptureAt48k, UnloadingTheSinkLosesTheDevice) {
    DeviceCapture capture(kUid);
    capture.start();
    EXPECT_FALSE(capture.lost());
    ASSERT_TRUE(server.unload_kova_sink());
    EXPECT_TRUE(eventually([&] { return capture.lost(); }));
}

TEST_F(DeviceCaptureAt48k, AServerThatDiesLosesTheDevice) {
    DeviceCapture capture(kUid);
    capture.start();
    server.kill_now();
    EXPECT_TRUE(eventually([&] { return capture.lost(); }));
}

TEST_F(DeviceCaptureAt48k, StartingAfterTheSinkWentAwayFails) {
    DeviceCapture capture(kUid);
    ASSERT_TRUE(server.unload_kova_sink());
    ASSERT_TRUE(eventually([&] { return capture.lost(); }));
    EXPECT_THROW(capture.start(), Error);
}

// A 44.1 kHz sink: one second of a 1 kHz tone becomes close to 48000 frames of 1 kHz.
TEST(DeviceCaptureAt44k, ConvertsOneSecondToAbout48000FramesOfTheSameTone) {
    PulseServer server(44100);
    ASSERT_TRUE(server.ready()) << server.log();
    DeviceCapture capture(kUid);
    capture.start();
    Resampler resampler(capture.rate.load());
    BackgroundPlayer player(44100, test::stereo_sine(1000.0, 44100, 44100, 0.5f));
    std::vector<float> converted;
    std::vector<float> block(2 * 192);
    const Resampler::Pull pull = [&](float* out, size_t n) { return capture.read(out, n); };
    for (Deadline deadline(300ms); deadline.running(player.done());) {
        for (size_t made; (made = resampler.process(pull, block.data(), 192)) > 0;) {
            converted.insert(converted.end(), block.begin(), block.begin() + 2 * made);
        }
        std::this_thread::sleep_for(2ms);
    }
    ASSERT_TRUE(player.ok());
    // The tone's frames: from the first to the last clearly sounding one.
    size_t first = converted.size() / 2;
    size_t last = 0;
    size_t rising = 0;
    for (size_t i = 1; i < converted.size() / 2; ++i) {
        if (std::fabs(converted[2 * i]) > 0.05f) {
            first = std::min(first, i);
            last = i;
        }
    }
    ASSERT_LT(first, last);
    for (size_t i = first + 1; i <= last; ++i) {
        rising += converted[2 * (i - 1)] < 0.0f && converted[2 * i] >= 0.0f ? 1 : 0;
    }
    EXPECT_NEAR(static_cast<double>(last - first), 48000.0, 100.0);
    EXPECT_NEAR(static_cast<double>(rising), 1000.0, 3.0);
}

}  // namespace
}  // namespace kova

// What the phone emulator costs per audio message: it must keep up with real time by a wide
// margin so that pacing measured at the emulator is the desktop's, not the emulator's.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "core/protocol/codec.h"
#include "core/protocol/json_payload.h"
#include "tools/phone/phone_app.h"

namespace {

using kova::Message;
using kova::Type;

constexpr uint64_t kSession = 0x0123456789abcdefULL;

// Ten seconds of audio at 192 frames per message, framed as a desktop sends it.
std::vector<uint8_t> desktop_stream(uint64_t messages) {
    std::vector<uint8_t> stream;
    uint64_t sequence = 0;
    auto add = [&](Type type, std::vector<uint8_t> payload, uint64_t frame_index = 0) {
        const auto frame = kova::encode(Message{type, kSession, sequence++, frame_index, payload});
        stream.insert(stream.end(), frame.begin(), frame.end());
    };
    add(Type::Hello, kova::json_bytes({{"role", "mac"}}));
    add(Type::Config, kova::json_bytes({{"sampleRate", 48000},
                                        {"channels", 2},
                                        {"sampleFormat", "s16le"},
                                        {"framesPerMessage", 192}}));
    add(Type::Start, {});
    for (uint64_t i = 0; i < messages; ++i) {
        add(Type::Audio, std::vector<uint8_t>(768, static_cast<uint8_t>(i)), i * 192);
    }
    add(Type::Stop, {});
    return stream;
}

void write_all(int fd, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

void BM_PhoneServesAudioMessages(benchmark::State& state) {
    const auto messages = static_cast<uint64_t>(state.range(0));
    const std::vector<uint8_t> stream = desktop_stream(messages);
    kova::phone::PhoneOptions options;
    options.keep_samples = state.range(1) != 0;
    for (auto _ : state) {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
            state.SkipWithError("socketpair");
            return;
        }
        kova::phone::PhoneApp app(options);
        kova::phone::PhoneSummary summary;
        std::thread server([&] { summary = app.serve(fds[1]); });
        write_all(fds[0], stream);
        ::shutdown(fds[0], SHUT_WR);
        server.join();
        ::close(fds[0]);
        if (summary.audio_messages != messages) {
            state.SkipWithError("messages lost");
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * messages));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
// 2500 messages are ten seconds of audio; with and without keeping the samples.
BENCHMARK(BM_PhoneServesAudioMessages)->Args({2500, 0})->Args({2500, 1})->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

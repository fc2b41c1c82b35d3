// Encoding and stream parsing of audio and control frames, beside a plain memcpy of the
// same bytes as the machine's reference.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/protocol/codec.h"
#include "core/protocol/parser.h"

namespace {

constexpr int kFramesPerBatch = 64;
constexpr size_t kReadBytes = 16384;  // the largest single read of the links

kova::Message audio_message() {
    kova::Message message;
    message.type = kova::Type::Audio;
    message.session = 0x1122334455667788ULL;
    message.sequence = 42;
    message.frame_index = 8064;
    message.payload.resize(768);
    for (size_t i = 0; i < message.payload.size(); ++i) {
        message.payload[i] = static_cast<uint8_t>(i * 7);
    }
    return message;
}

kova::Message control_message() {
    const std::string status =
        R"({"occupancyMean":1920.5,"route":"built_in_speaker","state":"Streaming","underruns":0})";
    kova::Message message;
    message.type = kova::Type::Status;
    message.session = 0x1122334455667788ULL;
    message.sequence = 42;
    message.payload.assign(status.begin(), status.end());
    return message;
}

kova::Message message_for(int64_t kind) {
    return kind == 0 ? audio_message() : control_message();
}

std::vector<uint8_t> batch_of(const kova::Message& message) {
    std::vector<uint8_t> stream;
    kova::Message next = message;
    for (int i = 0; i < kFramesPerBatch; ++i) {
        next.sequence = message.sequence + static_cast<uint64_t>(i);
        const std::vector<uint8_t> frame = kova::encode(next);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

void label(benchmark::State& state, size_t frame_bytes) {
    state.SetLabel(std::to_string(frame_bytes) + "-byte frames");
}

void BM_Encode(benchmark::State& state) {
    const kova::Message message = message_for(state.range(0));
    size_t frame_bytes = 0;
    for (auto _ : state) {
        std::vector<uint8_t> frame = kova::encode(message);
        frame_bytes = frame.size();
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame_bytes));
    label(state, frame_bytes);
}

// Feeds a batch of frames in link-sized reads, as the session's receive loop does.
void BM_ParserFeed(benchmark::State& state) {
    const std::vector<uint8_t> stream = batch_of(message_for(state.range(0)));
    kova::Parser parser;
    size_t payload_bytes = 0;
    const auto on_message = [&payload_bytes](kova::Message message) {
        payload_bytes += message.payload.size();
    };
    for (auto _ : state) {
        for (size_t offset = 0; offset < stream.size(); offset += kReadBytes) {
            const size_t length = std::min(kReadBytes, stream.size() - offset);
            parser.feed(stream.data() + offset, length, on_message);
        }
        benchmark::DoNotOptimize(payload_bytes);
    }
    state.SetItemsProcessed(state.iterations() * kFramesPerBatch);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
    label(state, stream.size() / kFramesPerBatch);
}

// The same bytes copied once: what moving them costs on this machine.
void BM_Memcpy(benchmark::State& state) {
    const std::vector<uint8_t> stream = batch_of(message_for(state.range(0)));
    std::vector<uint8_t> copy(stream.size());
    const size_t frame_bytes = stream.size() / kFramesPerBatch;
    for (auto _ : state) {
        for (size_t offset = 0; offset < stream.size(); offset += frame_bytes) {
            std::memcpy(copy.data() + offset, stream.data() + offset, frame_bytes);
        }
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kFramesPerBatch);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
    label(state, frame_bytes);
}

// Argument 0: 808-byte audio frames; 1: status control frames.
BENCHMARK(BM_Encode)->ArgName("control")->Arg(0)->Arg(1);
BENCHMARK(BM_ParserFeed)->ArgName("control")->Arg(0)->Arg(1);
BENCHMARK(BM_Memcpy)->ArgName("control")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();

#include "tools/phone/wav_recorder.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "core/transport/error.h"

namespace kova::phone {
namespace {

constexpr size_t kHeaderBytes = 44;
constexpr uint32_t kRate = 48000;
constexpr uint16_t kChannels = 2;
constexpr uint16_t kBits = 16;
// The RIFF size field is 32 bits; larger recordings keep growing but their header saturates.
constexpr uint64_t kMaxDataBytes = std::numeric_limits<uint32_t>::max() - (kHeaderBytes - 8);

void put16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* out, uint32_t value) {
    put16(out, static_cast<uint16_t>(value));
    put16(out + 2, static_cast<uint16_t>(value >> 16));
}

}  // namespace

WavRecorder::WavRecorder(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (file_ == nullptr) {
        throw Error("record_open_failed");
    }
    write_header();
}

WavRecorder::~WavRecorder() {
    try {
        write_header();
    } catch (const Error&) {
        // Nothing more can be done for a file that cannot be written.
    }
    std::fclose(file_);
}

void WavRecorder::append(const int16_t* samples, size_t count) {
    std::vector<uint8_t> bytes(count * 2);
    for (size_t i = 0; i < count; ++i) {
        put16(&bytes[2 * i], static_cast<uint16_t>(samples[i]));
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        throw Error("record_write_failed");
    }
    data_bytes_ += bytes.size();
}

void WavRecorder::write_header() {
    const auto data = static_cast<uint32_t>(std::min(data_bytes_, kMaxDataBytes));
    std::array<uint8_t, kHeaderBytes> header{};
    auto tag = [&header](size_t at, const char* text) {
        for (size_t i = 0; i < 4; ++i) {
            header[at + i] = static_cast<uint8_t>(text[i]);
        }
    };
    tag(0, "RIFF");
    put32(&header[4], data + static_cast<uint32_t>(kHeaderBytes - 8));
    tag(8, "WAVE");
    tag(12, "fmt ");
    put32(&header[16], 16);
    put16(&header[20], 1);  // PCM
    put16(&header[22], kChannels);
    put32(&header[24], kRate);
    put32(&header[28], kRate * kChannels * kBits / 8);
    put16(&header[32], kChannels * kBits / 8);
    put16(&header[34], kBits);
    tag(36, "data");
    put32(&header[40], data);
    if (std::fseek(file_, 0, SEEK_SET) != 0 ||
        std::fwrite(header.data(), 1, header.size(), file_) != header.size() ||
        std::fseek(file_, 0, SEEK_END) != 0 || std::fflush(file_) != 0) {
        throw Error("record_write_failed");
    }
}

}  // namespace kova::phone

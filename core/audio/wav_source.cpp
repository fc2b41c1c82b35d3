#include "core/audio/wav_source.h"

#include <algorithm>
#include <cstring>

#include "core/transport/error.h"

namespace kova {
namespace {

constexpr uint64_t kRiffHeaderBytes = 12;
constexpr uint64_t kChunkHeaderBytes = 8;
constexpr uint64_t kFormatBytes = 16;
constexpr size_t kBlockBytes = 768;

uint16_t u16le(const uint8_t* in) {
    return static_cast<uint16_t>(in[0] | (in[1] << 8));
}

uint32_t u32le(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
           (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

}  // namespace

WavSource::WavSource(const std::string& path) {
    file_.open(path, std::ios::binary);
    if (!file_.is_open()) {
        throw Error("wav_open_failed");
    }
    file_.seekg(0, std::ios::end);
    const std::streamoff length = file_.tellg();
    if (!file_ || length < static_cast<std::streamoff>(kRiffHeaderBytes)) {
        throw Error("truncated_wav");
    }
    file_.seekg(0);
    uint8_t header[kRiffHeaderBytes];
    read_exact(header, sizeof header);
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0) {
        throw Error("wav_riff_required");
    }
    const uint64_t riff_end = uint64_t{u32le(header + 4)} + 8;
    if (riff_end < kRiffHeaderBytes || riff_end > static_cast<uint64_t>(length)) {
        throw Error("wav_riff_size");
    }
    if (riff_end == kRiffHeaderBytes) {
        throw Error("wav_missing_chunks");
    }
    walk_chunks(riff_end);
    position_ = 0;
    file_.seekg(static_cast<std::streamoff>(data_offset_));
}

void WavSource::walk_chunks(uint64_t riff_end) {
    bool seen_format = false;
    bool seen_data = false;
    uint64_t offset = kRiffHeaderBytes;
    while (offset < riff_end) {
        if (riff_end - offset < kChunkHeaderBytes) {
            throw Error("wav_chunk_header");
        }
        file_.seekg(static_cast<std::streamoff>(offset));
        uint8_t chunk[kChunkHeaderBytes];
        read_exact(chunk, sizeof chunk);
        const uint64_t body = offset + kChunkHeaderBytes;
        const uint64_t size = u32le(chunk + 4);
        const uint64_t padded = size + (size & 1);
        if (padded > riff_end - body) {
            throw Error("wav_chunk_size");
        }
        if (std::memcmp(chunk, "data", 4) == 0) {
            if (seen_data || size == 0 || size % 4 != 0) {
                throw Error("wav_data_chunk");
            }
            seen_data = true;
            data_offset_ = body;
            data_size_ = size;
        } else if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (seen_format || size < kFormatBytes) {
                throw Error("wav_format_chunk");
            }
            seen_format = true;
            check_format_body();
        }
        offset = body + padded;
    }
    if (!seen_format || !seen_data) {
        throw Error("wav_missing_chunks");
    }
}

void WavSource::check_format_body() {
    uint8_t format[kFormatBytes];
    read_exact(format, sizeof format);
    const bool pcm16_stereo_48000 = u16le(format) == 1 && u16le(format + 2) == 2 &&
                                    u32le(format + 4) == 48000 && u32le(format + 8) == 192000 &&
                                    u16le(format + 12) == 4 && u16le(format + 14) == 16;
    if (!pcm16_stereo_48000) {
        throw Error("wav_requires_pcm16_stereo_48000");
    }
}

std::vector<uint8_t> WavSource::next(bool loop) {
    if (position_ == data_size_) {
        if (!loop) {
            return {};
        }
        position_ = 0;
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(data_offset_));
    }
    const size_t count =
        static_cast<size_t>(std::min<uint64_t>(data_size_ - position_, kBlockBytes));
    std::vector<uint8_t> block(count);
    read_exact(block.data(), count);
    position_ += count;
    return block;
}

void WavSource::read_exact(uint8_t* destination, size_t count) {
    file_.read(reinterpret_cast<char*>(destination), static_cast<std::streamsize>(count));
    if (static_cast<size_t>(file_.gcount()) != count) {
        throw Error("truncated_wav");
    }
}

}  // namespace kova

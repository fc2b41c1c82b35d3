#include "tests/support/wav_builder.h"

namespace kova::test {
namespace {

void put_u16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put_u32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

void put_id(std::vector<uint8_t>& out, const std::string& id) {
    out.insert(out.end(), id.begin(), id.end());
}

}  // namespace

WavBuilder& WavBuilder::chunk(const std::string& id, const std::vector<uint8_t>& body) {
    raw_chunk(id, static_cast<uint32_t>(body.size()), body);
    if (body.size() % 2 == 1) {
        chunks_.push_back(0);
    }
    return *this;
}

WavBuilder& WavBuilder::raw_chunk(const std::string& id, uint32_t declared_size,
                                  const std::vector<uint8_t>& body) {
    put_id(chunks_, id);
    put_u32(chunks_, declared_size);
    chunks_.insert(chunks_.end(), body.begin(), body.end());
    return *this;
}

WavBuilder& WavBuilder::format(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byte_rate,
                               uint16_t align, uint16_t bits, size_t extra) {
    std::vector<uint8_t> body;
    put_u16(body, tag);
    put_u16(body, channels);
    put_u32(body, rate);
    put_u32(body, byte_rate);
    put_u16(body, align);
    put_u16(body, bits);
    body.resize(body.size() + extra, 0);
    return chunk("fmt ", body);
}

WavBuilder& WavBuilder::data(size_t bytes) {
    std::vector<uint8_t> body(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        body[i] = static_cast<uint8_t>(i);
    }
    return chunk("data", body);
}

WavBuilder& WavBuilder::riff_size(uint32_t size) {
    riff_size_ = size;
    return *this;
}

WavBuilder& WavBuilder::trailing(size_t bytes) {
    trailing_.assign(bytes, 0xEE);
    return *this;
}

std::vector<uint8_t> WavBuilder::bytes() const {
    std::vector<uint8_t> out;
    put_id(out, "RIFF");
    put_u32(out, riff_size_.value_or(static_cast<uint32_t>(4 + chunks_.size())));
    put_id(out, "WAVE");
    out.insert(out.end(), chunks_.begin(), chunks_.end());
    out.insert(out.end(), trailing_.begin(), trailing_.end());
    return out;
}

std::vector<uint8_t> simple_wav(size_t data_bytes) {
    return WavBuilder().format().data(data_bytes).bytes();
}

}  // namespace kova::test

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kova::test {

/// Builds RIFF/WAVE files byte by byte, including malformed ones.
class WavBuilder {
  public:
    /// Appends a chunk with `id` and `body`, plus a pad byte when the body size is odd.
    WavBuilder& chunk(const std::string& id, const std::vector<uint8_t>& body);
    /// Appends a chunk header declaring `declared_size`, followed by `body` as it is.
    WavBuilder& raw_chunk(const std::string& id, uint32_t declared_size,
                          const std::vector<uint8_t>& body);
    /// Appends a "fmt " chunk with these values (16-byte body unless `extra` adds more).
    WavBuilder& format(uint16_t tag = 1, uint16_t channels = 2, uint32_t rate = 48000,
                       uint32_t byte_rate = 192000, uint16_t align = 4, uint16_t bits = 16,
                       size_t extra = 0);
    /// Appends a "data" chunk holding `bytes` bytes counting up from 0 (mod 256).
    WavBuilder& data(size_t bytes);
    /// Declares this RIFF size instead of the real one.
    WavBuilder& riff_size(uint32_t size);
    /// Appends bytes after the RIFF's declared end.
    WavBuilder& trailing(size_t bytes);
    /// The file's bytes.
    std::vector<uint8_t> bytes() const;

  private:
    std::vector<uint8_t> chunks_;
    std::vector<uint8_t> trailing_;
    std::optional<uint32_t> riff_size_;
};

/// A valid 48 kHz stereo 16-bit file whose data chunk holds `data_bytes` counting bytes.
std::vector<uint8_t> simple_wav(size_t data_bytes);

}  // namespace kova::test

#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace kova {

/// A 48 kHz stereo 16-bit PCM WAV file read in blocks of at most one audio message.
class WavSource {
  public:
    /// Opens and checks the file, leaving it positioned at the first sample; throws kova::Error.
    explicit WavSource(const std::string& path);
    /// The next block of at most 768 bytes; empty once the data is exhausted and `loop` is false.
    std::vector<uint8_t> next(bool loop);
    /// Reads exactly `count` bytes at the current position, else throws "truncated_wav".
    void read_exact(uint8_t* destination, size_t count);
    /// Byte size of the data chunk: a non-zero multiple of 4.
    uint64_t data_size() const { return data_size_; }

  private:
    void walk_chunks(uint64_t riff_end);
    void check_format_body();

    std::ifstream file_;
    uint64_t data_offset_ = 0;
    uint64_t data_size_ = 0;
    uint64_t position_ = 0;
};

}  // namespace kova

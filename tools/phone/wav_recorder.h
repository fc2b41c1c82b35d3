#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kova::phone {

/// Writes what the phone would play to a WAV file: PCM 16-bit, stereo, 48000 Hz. The header's
/// sizes are filled in when the recorder is destroyed.
class WavRecorder {
  public:
    /// Creates (or truncates) `path`; throws kova::Error("record_open_failed").
    explicit WavRecorder(const std::string& path);
    /// Completes the header and closes the file.
    ~WavRecorder();
    WavRecorder(const WavRecorder&) = delete;
    WavRecorder& operator=(const WavRecorder&) = delete;

    /// Appends interleaved stereo samples; throws kova::Error("record_write_failed").
    void append(const int16_t* samples, size_t count);
    /// Bytes of sample data written so far.
    uint64_t data_bytes() const { return data_bytes_; }

  private:
    void write_header();

    std::FILE* file_;
    uint64_t data_bytes_ = 0;
};

}  // namespace kova::phone

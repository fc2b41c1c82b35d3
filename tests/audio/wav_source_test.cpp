#include "core/audio/wav_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/transport/error.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"

namespace kova {
namespace {

using test::WavBuilder;

class WavSourceTest : public ::testing::Test {
  protected:
    std::string file(const std::vector<uint8_t>& bytes) { return dir_.write("input.wav", bytes); }

    // The code a file fails to open with, or "" when it opens.
    std::string open_failure(const std::vector<uint8_t>& bytes) {
        try {
            WavSource source(file(bytes));
            return "";
        } catch (const Error& failure) {
            return failure.what();
        }
    }

    test::TempDir dir_;
};

std::vector<uint8_t> counting(size_t from, size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(from + i);
    }
    return bytes;
}

TEST_F(WavSourceTest, ThousandDataBytesGiveTwoBlocksThenNothing) {
    WavSource source(file(test::simple_wav(1000)));
    EXPECT_EQ(source.data_size(), 1000u);
    EXPECT_EQ(source.next(false), counting(0, 768));
    EXPECT_EQ(source.next(false), counting(768, 232));
    EXPECT_TRUE(source.next(false).empty());
    EXPECT_TRUE(source.next(false).empty());
}

TEST_F(WavSourceTest, LoopStartsAgainFromTheFirstSample) {
    WavSource source(file(test::simple_wav(1000)));
    const auto first = source.next(true);
    EXPECT_EQ(source.next(true).size(), 232u);
    EXPECT_EQ(source.next(true), first);
    EXPECT_EQ(source.next(true).size(), 232u);
    // An exhausted pass without loop still ends the stream.
    EXPECT_TRUE(source.next(false).empty());
}

TEST_F(WavSourceTest, ChunksInAnyOrderWithOddSizedOthersAndPadBytes) {
    const auto bytes = WavBuilder()
                           .chunk("LIST", counting(0, 5))  // odd: one pad byte follows
                           .data(8)
                           .chunk("junk", counting(0, 3))
                           .format(1, 2, 48000, 192000, 4, 16, 2)  // 18-byte format body
                           .bytes();
    WavSource source(file(bytes));
    EXPECT_EQ(source.next(false), counting(0, 8));
}

TEST_F(WavSourceTest, BytesAfterTheRiffEndAreIgnored) {
    WavSource source(file(WavBuilder().format().data(4).trailing(100).bytes()));
    EXPECT_EQ(source.next(false).size(), 4u);
    EXPECT_TRUE(source.next(false).empty());
}

TEST_F(WavSourceTest, FileLevelChecksInTheirOrder) {
    EXPECT_EQ(open_failure({}), "truncated_wav");
    EXPECT_EQ(open_failure(counting(0, 11)), "truncated_wav");
    auto riff = test::simple_wav(4);
    riff[0] = 'X';
    EXPECT_EQ(open_failure(riff), "wav_riff_required");
    auto wave = test::simple_wav(4);
    wave[11] = 'X';
    EXPECT_EQ(open_failure(wave), "wav_riff_required");
    const auto full = test::simple_wav(4);
    EXPECT_EQ(open_failure(WavBuilder()
                               .format()
                               .data(4)
                               .riff_size(static_cast<uint32_t>(full.size() - 8 + 1))
                               .bytes()),
              "wav_riff_size");
    EXPECT_EQ(open_failure(WavBuilder().format().data(4).riff_size(0xFFFFFFFF).bytes()),
              "wav_riff_size");
    EXPECT_EQ(open_failure(WavBuilder().riff_size(4).bytes()), "wav_missing_chunks");
    EXPECT_EQ(open_failure(WavBuilder().format().data(4).riff_size(2).bytes()), "wav_riff_size");
}

TEST_F(WavSourceTest, MissingPathFailsToOpen) {
    EXPECT_THROW(
        {
            try {
                WavSource source(dir_.path() + "/absent.wav");
            } catch (const Error& failure) {
                EXPECT_STREQ(failure.what(), "wav_open_failed");
                throw;
            }
        },
        Error);
}

TEST_F(WavSourceTest, ChunkWalkRejectsHeadersAndBodiesBeyondTheRiffEnd) {
    // RIFF size 10: six bytes after "WAVE" cannot hold a chunk header.
    EXPECT_EQ(open_failure(WavBuilder().format().data(4).riff_size(10).bytes()),
              "wav_chunk_header");
    EXPECT_EQ(open_failure(WavBuilder().format().raw_chunk("data", 400, counting(0, 4)).bytes()),
              "wav_chunk_size");
    // An odd body whose pad byte would lie exactly at the RIFF end.
    const auto odd = WavBuilder().format().data(4).raw_chunk("note", 3, counting(0, 3));
    EXPECT_EQ(open_failure(odd.bytes()), "wav_chunk_size");
}

TEST_F(WavSourceTest, DataChunkRules) {
    EXPECT_EQ(open_failure(WavBuilder().format().data(6).bytes()), "wav_data_chunk");
    EXPECT_EQ(open_failure(WavBuilder().format().data(0).bytes()), "wav_data_chunk");
    EXPECT_EQ(open_failure(WavBuilder().format().data(4).data(8).bytes()), "wav_data_chunk");
    EXPECT_EQ(open_failure(WavBuilder().format().bytes()), "wav_missing_chunks");
    EXPECT_EQ(open_failure(WavBuilder().data(4).bytes()), "wav_missing_chunks");
}

TEST_F(WavSourceTest, FormatChunkRules) {
    EXPECT_EQ(open_failure(WavBuilder().chunk("fmt ", counting(0, 14)).data(4).bytes()),
              "wav_format_chunk");
    EXPECT_EQ(open_failure(WavBuilder().format().format().data(4).bytes()), "wav_format_chunk");
    EXPECT_EQ(open_failure(WavBuilder().format(1, 1, 48000, 96000, 2, 16).data(4).bytes()),
              "wav_requires_pcm16_stereo_48000");
    EXPECT_EQ(open_failure(WavBuilder().format(1, 2, 44100, 176400, 4, 16).data(4).bytes()),
              "wav_requires_pcm16_stereo_48000");
    EXPECT_EQ(open_failure(WavBuilder().format(1, 2, 48000, 288000, 6, 24).data(12).bytes()),
              "wav_requires_pcm16_stereo_48000");
    EXPECT_EQ(open_failure(WavBuilder().format(3, 2, 48000, 192000, 4, 16).data(4).bytes()),
              "wav_requires_pcm16_stereo_48000");
    // The format is checked where it stands, before a later bad data chunk is seen.
    EXPECT_EQ(open_failure(WavBuilder().format(1, 1, 48000, 96000, 2, 16).data(6).bytes()),
              "wav_requires_pcm16_stereo_48000");
}

TEST_F(WavSourceTest, FileShrinkingUnderTheReaderIsTruncated) {
    const std::string path = file(test::simple_wav(2000));
    WavSource source(path);
    std::filesystem::resize_file(path, 44 + 500);
    try {
        (void)source.next(false);
        FAIL() << "a short read was accepted";
    } catch (const Error& failure) {
        EXPECT_STREQ(failure.what(), "truncated_wav");
    }
}

TEST_F(WavSourceTest, FileGrowingUnderTheReaderStreamsOnlyTheDeclaredData) {
    const std::string path = file(test::simple_wav(1000));
    WavSource source(path);
    const std::vector<uint8_t> first = source.next(true);
    std::ofstream(path, std::ios::binary | std::ios::app) << std::string(100000, '\x7f');
    // The rest of the declared data, then the first sample again, never the appended bytes.
    EXPECT_EQ(first.size() + source.next(true).size(), 1000u);
    EXPECT_EQ(source.next(true), first);
}

}  // namespace
}  // namespace kova

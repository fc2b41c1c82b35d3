// Feeds arbitrary bytes to WavSource as a file: opening must either succeed or throw
// kova::Error, and reading a successfully opened file must end.
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/audio/wav_source.h"
#include "core/transport/error.h"

namespace {

// The input lives in memory, not on disk: a file system round trip per input cost most of
// the target's time. WavSource opens it by path like any other file.
int memory_file() {
    const int fd = ::memfd_create("kova-fuzz-wav", 0);
    if (fd < 0) {
        abort();
    }
    return fd;
}

void write_file(int fd, const uint8_t* data, size_t size) {
    if (::ftruncate(fd, 0) != 0 ||
        (size > 0 && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))) {
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int fd = memory_file();
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    write_file(fd, data, size);
    try {
        kova::WavSource source(path);
        uint64_t delivered = 0;
        for (;;) {
            const auto block = source.next(false);
            if (block.empty()) {
                break;
            }
            if (block.size() > 768 || block.size() % 4 != 0) {
                abort();
            }
            delivered += block.size();
        }
        if (delivered != source.data_size()) {
            abort();
        }
    } catch (const kova::Error&) {
    }
    return 0;
}

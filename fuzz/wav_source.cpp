// Feeds arbitrary bytes to WavSource as a file: opening must either succeed or throw
// kova::Error, and reading a successfully opened file must end.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/audio/wav_source.h"
#include "core/transport/error.h"

namespace {

std::string scratch_file() {
    char pattern[] = "/tmp/kova-fuzz-wav-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0) {
        abort();
    }
    ::close(fd);
    static std::string created;
    created = pattern;
    std::atexit([] { ::unlink(created.c_str()); });
    return created;
}

void write_file(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = ::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        abort();
    }
    if (size > 0 && ::fwrite(data, 1, size, file) != size) {
        abort();
    }
    ::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = scratch_file();
    write_file(path, data, size);
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

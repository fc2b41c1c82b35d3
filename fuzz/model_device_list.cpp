// The device-list document the model reads on refresh, on a fresh model each time: whatever
// the library lists, the model keeps only well-formed phones, candidates first, and its
// selection names a listed phone.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/model/doubles/model_parts.h"

namespace {

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "model_device_list: %s\n", why);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kova::test::ModelParts rig;
    rig.library->listText = std::string(reinterpret_cast<const char*>(data), size);
    auto& model = rig.make();
    model.refresh();
    // A copy: pairing refreshes the model's own list.
    const std::vector<kova::Device> devices = model.devices();
    if (!std::is_partitioned(devices.begin(), devices.end(),
                             [](const kova::Device& device) { return device.isCandidate(); })) {
        fail("candidates are not listed first");
    }
    if (const auto& selected = model.selectedPath(); selected && !model.device(selected)) {
        fail("the selection names no listed phone");
    }
    for (const auto& device : devices) {
        if (device.name.empty() || (device.serialHash && device.serialHash->size() != 64)) {
            fail("a listed phone has no name or a malformed serial hash");
        }
        model.pair(device.path);
        // Paths are the identity: with duplicates the first entry is the one paired.
        const auto listed = model.device(device.path);
        if (!listed || (listed->serialHash && !listed->paired)) {
            fail("pairing a phone with a serial did not mark it paired");
        }
    }
    if (rig.library->textsFreed != rig.library->listCalls) {
        fail("a listed text was not released");
    }
    return 0;
}

// Cost of the accessory link's per-message work over the fake bus: one 768-byte audio
// message written (one asynchronous transfer, allocation and event pumping included), and
// one read that finds nothing waiting.

#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/transport/aoa_transport.h"
#include "tests/support/fake_libusb/fake_usb_bus.h"

namespace {

struct ConnectedPhone {
    ConnectedPhone() {
        kova::fakeusb::Bus::instance().reset();
        auto phone = kova::fakeusb::Bus::instance().add({});
        transport.connect("1:1.4", "bench");
        fd = phone.take_phone_end();
        sink = std::thread([this] {
            char buffer[65536];
            while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
            }
        });
    }
    ~ConnectedPhone() {
        ::shutdown(fd, SHUT_RDWR);
        sink.join();
        ::close(fd);
        kova::fakeusb::Bus::instance().reset();
    }
    kova::AoaTransport transport;
    int fd = -1;
    std::thread sink;
};

void BM_WriteAudioMessage(benchmark::State& state) {
    ConnectedPhone phone;
    const std::vector<uint8_t> message(40 + 768, 0x5A);
    for (auto _ : state) {
        phone.transport.write(message, 5000);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}
BENCHMARK(BM_WriteAudioMessage)->UseRealTime();

void BM_ReadNothingWithOneMillisecond(benchmark::State& state) {
    ConnectedPhone phone;
    for (auto _ : state) {
        benchmark::DoNotOptimize(phone.transport.read(1));
    }
}
BENCHMARK(BM_ReadNothingWithOneMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Cost of the controller model's main-thread work: re-reading a device list and applying
// the session's status events (one every 500 ms per session in real use).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/model/connect_model.h"
#include "app/model/platform/openssl_sha256.h"
#include "tests/model/doubles/fakes.h"

namespace {

using namespace kova;

class ListLibrary : public Library {
  public:
    std::string list;
    char* listDevices() override { return strdup(list.c_str()); }
    void freeText(void* text) override { std::free(text); }
    int iosProbe(const char*) override { return 1; }
    bool devicePresent() override { return true; }
    double deviceSampleRate() override { return 48000.0; }
    KovaSession* sessionStart(const char*, kova_event_callback, void*) override {
        return reinterpret_cast<KovaSession*>(this);
    }
    void sessionStop(KovaSession*) override {}
    void sessionFree(KovaSession*) override {}
};

class DropQueue : public MainQueue {
  public:
    void post(std::function<void()>) override {}
    Deferred postAfter(std::chrono::milliseconds, std::function<void()>) override { return 1; }
    void cancel(Deferred) override {}
};

std::string deviceList(int phones) {
    nlohmann::json list = nlohmann::json::array();
    for (int index = 0; index < phones; ++index) {
        list.push_back({{"accessory", false},
                        {"hub", false},
                        {"path", "1:" + std::to_string(index)},
                        {"platform", "android"},
                        {"product", 0x4ee7},
                        {"productName", "Phone"},
                        {"serial", "SERIAL" + std::to_string(index)},
                        {"vendor", 0x18d1},
                        {"vendorName", "Nova"}});
    }
    return list.dump();
}

std::shared_ptr<ConnectModel> makeModel(const std::shared_ptr<ListLibrary>& library) {
    ConnectPorts ports;
    ports.library = library;
    ports.queue = std::make_shared<DropQueue>();
    ports.background = std::make_shared<test::ManualRunner>();  // never run: no iPhone probes
    ports.settings = std::make_shared<test::MemorySettings>();
    ports.sha256 = std::make_shared<OpenSslSha256>();
    ports.microphone = std::make_shared<test::FakeMicrophone>();
    ports.loginItem = std::make_shared<test::FakeLoginItem>();
    auto watcher = std::make_shared<test::FakeWatcher>();
    ports.usbWatcher = watcher;
    ports.audioWatcher = watcher;
    static std::ostringstream sink;
    ports.reportLog = &sink;
    return ConnectModel::create(std::move(ports));
}

void BM_Refresh(benchmark::State& state) {
    auto library = std::make_shared<ListLibrary>();
    library->list = deviceList(static_cast<int>(state.range(0)));
    const auto model = makeModel(library);
    for (auto _ : state) {
        model->refresh();
        benchmark::DoNotOptimize(model->devices().data());
    }
}
BENCHMARK(BM_Refresh)->Arg(1)->Arg(16);

void BM_StatusEvent(benchmark::State& state) {
    auto library = std::make_shared<ListLibrary>();
    library->list = deviceList(1);
    const auto model = makeModel(library);
    model->setSelectedPath("1:0");
    model->start();
    model->handle(R"({"event":"state","state":"Streaming"})");
    const std::string status =
        R"({"capturePeak":0.25,"captureSampleRate":48000.0,"event":"status","framesSent":96000,)"
        R"("pacingMaxLateMs":0.7,"phone":{"occupancyMean":2400.5,"route":"speaker",)"
        R"("state":"Playing","underruns":0}})";
    for (auto _ : state) {
        model->handle(status);
    }
}
BENCHMARK(BM_StatusEvent);

void BM_Message(benchmark::State& state) {
    Device phone;
    phone.name = "Nova Phone";
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            ConnectModel::message("open_selected_device: LIBUSB_ERROR_ACCESS", phone));
    }
}
BENCHMARK(BM_Message);

}  // namespace

BENCHMARK_MAIN();

#include "bench/soak/soak_phone.h"

#include <future>
#include <nlohmann/json.hpp>

#include "tests/support/fake_libusb/fake_usb_bus.h"
#include "tests/support/phone_child.h"
#include "tests/support/temp_dir.h"
#include "tests/support/usbmux_socket_dir.h"
#include "tools/phone/phone_app.h"

namespace kova::bench {
namespace {

constexpr const char* kSerial = "00008101-000A1B2C3D4E5F60";
constexpr int kClickThreshold = 16384;  // the bed stays below a third of full scale
constexpr double kHoldOffMs = 30.0;

class UsbmuxIphone : public SoakPhone {
  public:
    bool start(std::string& error) override {
        arrivals_ = directory_.path() + "/arrivals.txt";
        child_ = std::make_unique<test::PhoneChild>(
            std::vector<std::string>{"--usbmux", socket_.path(), "--serial", kSerial, "--sessions",
                                     "1", "--status-interval-ms", "500", "--arrivals", arrivals_});
        device_ = child_->line();
        if (device_.empty()) {
            error = "kova-phone did not present its iPhone";
            return false;
        }
        return true;
    }
    nlohmann::json target() const override { return {{"device", device_}}; }
    PhoneFigures finish() override {
        PhoneFigures figures;
        const auto summary = nlohmann::json::parse(child_->line(), nullptr, false);
        // The arrivals log is complete once the emulator has exited after its one session.
        child_->exit_status();
        if (summary.is_object()) {
            figures.summarised = true;
            figures.frames_received = summary.value("framesReceived", uint64_t{0});
            figures.gaps = summary.value("gaps", uint64_t{0});
            figures.underruns = summary.value("underruns", uint64_t{0});
        }
        figures.clicks = clicks_in_arrivals(arrivals_, kClickThreshold, kHoldOffMs);
        return figures;
    }

  private:
    test::UsbmuxSocketDir socket_;
    test::TempDir directory_;
    std::string arrivals_;
    std::unique_ptr<test::PhoneChild> child_;
    std::string device_;
};

class FakeBusAndroid : public SoakPhone {
  public:
    FakeBusAndroid()
        : detector_(48000, static_cast<float>(kClickThreshold) / 32768.0f, kHoldOffMs) {
        phone::PhoneOptions options;
        options.role = "android";
        options.keep_samples = false;
        options.on_audio = [this](Clock::time_point at, const int16_t* samples, size_t count) {
            detector_.feed(samples, count / 2, at);
        };
        app_ = std::make_unique<phone::PhoneApp>(options);
    }
    bool start(std::string&) override {
        fakeusb::Bus::instance().reset();
        const int phone_end = fakeusb::Bus::instance().add(fakeusb::PhoneScript{}).take_phone_end();
        served_ =
            std::async(std::launch::async, [this, phone_end] { return app_->serve(phone_end); });
        return true;
    }
    nlohmann::json target() const override {
        return {{"device", "1:1.4"}, {"accessoryId", "acc-50a6"}};
    }
    PhoneFigures finish() override {
        app_->stop();
        const phone::PhoneSummary summary = served_.get();
        return {true, summary.frames_received, summary.gaps, summary.underruns,
                detector_.arrivals()};
    }

  private:
    ImpulseDetector detector_;
    std::unique_ptr<phone::PhoneApp> app_;
    std::future<phone::PhoneSummary> served_;
};

}  // namespace

std::unique_ptr<SoakPhone> make_usbmux_iphone() {
    return std::make_unique<UsbmuxIphone>();
}

std::unique_ptr<SoakPhone> make_fake_bus_android() {
    return std::make_unique<FakeBusAndroid>();
}

}  // namespace kova::bench

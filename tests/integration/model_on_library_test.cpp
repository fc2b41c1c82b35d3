// The controller model on the real libkova.so, with kova-phone as an emulated iPhone behind its
// own usbmux socket and a private audio server holding the KOVA sink.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/model/connect_model.h"
#include "app/model/platform/authorized_microphone.h"
#include "app/model/platform/kova_library.h"
#include "app/model/platform/openssl_sha256.h"
#include "app/model/platform/thread_runner.h"
#include "core/transport/ios_id.h"
#include "tests/model/doubles/fakes.h"
#include "tests/model/doubles/loop_queue.h"
#include "tests/support/phone_child.h"
#include "tests/support/pulse_server.h"
#include "tests/support/usbmux_socket_dir.h"

namespace kova::test {
namespace {

using namespace std::chrono_literals;

// Generous: the machine running the tests may be busy; a hang still fails.
constexpr auto stepLimit = 30s;
constexpr const char* serial = "kova-model-integration";

class ModelOnLibrary : public ::testing::Test {
  protected:
    PulseServer pulse{48000};
    SinePlayer tone{48000};  // what the desktop plays into the KOVA device
    UsbmuxSocketDir socket;
    PhoneChild phone{
        {"--usbmux", socket.path(), "--serial", serial, "--status-interval-ms", "100"}};
    std::ostringstream reports;
    std::vector<std::string> texts;
    std::shared_ptr<LoopQueue> queue = std::make_shared<LoopQueue>();
    std::shared_ptr<ConnectModel> model;

    void SetUp() override {
        ASSERT_TRUE(pulse.ready()) << pulse.log();
        ASSERT_EQ(phone.line(), ios_id(serial));  // printed once the socket listens
    }

    void TearDown() override {
        if (model) {
            model->willTerminate();
        }
        // Queued events hold the model, which holds the queue.
        queue->clear();
    }

    void make() {
        ConnectPorts ports;
        ports.library = std::make_shared<KovaLibrary>();
        ports.queue = queue;
        ports.background = std::make_shared<ThreadRunner>();
        ports.settings = std::make_shared<MemorySettings>();
        ports.sha256 = std::make_shared<OpenSslSha256>();
        ports.microphone = std::make_shared<AuthorizedMicrophone>();
        ports.loginItem = std::make_shared<FakeLoginItem>();
        ports.usbWatcher = std::make_shared<FakeWatcher>();
        ports.audioWatcher = std::make_shared<FakeWatcher>();
        ports.reportLog = &reports;
        model = ConnectModel::create(std::move(ports));
        model->observe([this](Property property) {
            if (property == Property::stateText) {
                texts.push_back(model->stateText());
            }
        });
    }

    // Runs the main queue until the capture's peak, from the phone's status, shows the tone.
    bool hearsTheTone() {
        return queue->runUntil([&] { return model->inputPeak().value_or(0.0) > 0.25; }, stepLimit);
    }

    // The reports of the ended sessions, in order.
    std::vector<nlohmann::json> endedReports() const {
        std::vector<nlohmann::json> documents;
        std::istringstream lines(reports.str());
        for (std::string line; std::getline(lines, line);) {
            documents.push_back(nlohmann::json::parse(line, nullptr, false));
        }
        return documents;
    }

    // Runs the main queue until the state text is `text`; the texts seen say why it failed.
    ::testing::AssertionResult reaches(const std::string& text) {
        if (queue->runUntil([&] { return model->stateText() == text; }, stepLimit)) {
            return ::testing::AssertionSuccess();
        }
        std::string seen;
        for (const auto& each : texts) {
            seen += "\n  " + each;
        }
        return ::testing::AssertionFailure()
               << "no \"" << text << "\"; texts:" << seen << "\nreports:\n"
               << reports.str();
    }
};

TEST_F(ModelOnLibrary, StartsByItselfWaitsForTheAppWhileItIsAwayAndStopsOnRequest) {
    make();
    const std::string path = ios_id(serial);

    // The lone iPhone is a candidate: the model starts it by itself.
    ASSERT_TRUE(reaches("Playing on the phone"));
    EXPECT_EQ(model->selectedPath(), path);
    EXPECT_TRUE(model->streaming());
    EXPECT_TRUE(model->device(path)->paired);
    EXPECT_TRUE(hearsTheTone());

    // The app goes away mid-stream; the iPhone stays attached and listed.
    phone.signal(SIGUSR1);
    ASSERT_TRUE(reaches("Unlock the iPhone or iPad and open KOVA"));
    EXPECT_EQ(model->phase(), Phase::running);
    EXPECT_FALSE(model->streaming());
    EXPECT_TRUE(model->device(path).has_value());
    EXPECT_EQ(model->errorText(), std::nullopt);

    // The app answers again: the waiting model streams again by itself.
    phone.signal(SIGUSR2);
    ASSERT_TRUE(reaches("Playing on the phone"));
    EXPECT_TRUE(model->streaming());
    EXPECT_TRUE(hearsTheTone());

    model->stop();
    ASSERT_TRUE(reaches("Stopped · restarts when you reconnect the phone"));
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_FALSE(model->streaming());

    const auto ended = endedReports();
    ASSERT_EQ(ended.size(), 2u) << reports.str();
    EXPECT_EQ(ended[0].value("error", ""), "ios_connection_closed");
    EXPECT_EQ(ended[1].value("result", ""), "audio_probe_completed");
    for (const auto& report : ended) {
        EXPECT_GT(report.value("framesSent", 0), 0) << report.dump();
    }
}

}  // namespace
}  // namespace kova::test

#pragma once

#include <chrono>
#include <memory>
#include <sstream>

#include "app/model/connect_model.h"
#include "app/model/platform/openssl_sha256.h"
#include "tests/model/doubles/fake_library.h"
#include "tests/model/doubles/fakes.h"
#include "tests/model/doubles/virtual_queue.h"

namespace kova::test {

/// A model on fakes and virtual time for the fuzz targets, which cannot use gtest fixtures.
struct ModelFuzzRig {
    std::shared_ptr<FakeLibrary> library = std::make_shared<FakeLibrary>();
    std::shared_ptr<VirtualQueue> queue = std::make_shared<VirtualQueue>();
    std::shared_ptr<ManualRunner> background = std::make_shared<ManualRunner>();
    std::shared_ptr<MemorySettings> settings = std::make_shared<MemorySettings>();
    std::shared_ptr<FakeWatcher> watcher = std::make_shared<FakeWatcher>();
    std::ostringstream reports;
    std::shared_ptr<ConnectModel> model;

    ConnectModel& make() {
        ConnectPorts ports;
        ports.library = library;
        ports.queue = queue;
        ports.background = background;
        ports.settings = settings;
        ports.sha256 = std::make_shared<OpenSslSha256>();
        ports.microphone = std::make_shared<FakeMicrophone>();
        ports.loginItem = std::make_shared<FakeLoginItem>();
        ports.usbWatcher = watcher;
        ports.audioWatcher = watcher;
        ports.reportLog = &reports;
        model = ConnectModel::create(std::move(ports));
        return *model;
    }

    /// A model with one phone listed and its session started (an iPhone's probe answered).
    ConnectModel& startRunning(bool ios) {
        settings->values["autoStart"] = false;
        library->setPhones({ios ? iPhone("ios:00008030001a", "iPhone", "udid")
                                : androidPhone("1:1", "Nova", "One", "s1")});
        library->probeAnswers = {1, 0, 1, -1, 1, 1, 1, 1};
        make();
        queue->advance(std::chrono::seconds(1));
        model->setSelectedPath(ios ? "ios:00008030001a" : "1:1");
        model->start();
        background->runAll();
        queue->runReady();
        return *model;
    }
};

}  // namespace kova::test

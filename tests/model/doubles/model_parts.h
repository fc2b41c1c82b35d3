#pragma once

#include <memory>
#include <sstream>

#include "app/model/connect_model.h"
#include "app/model/platform/openssl_sha256.h"
#include "tests/model/doubles/fake_library.h"
#include "tests/model/doubles/fakes.h"
#include "tests/model/doubles/virtual_queue.h"

namespace kova::test {

/// A model on fakes and virtual time, without gtest so that the fuzz targets can use it too.
/// Script the fakes, then call make().
struct ModelParts {
    std::shared_ptr<FakeLibrary> library = std::make_shared<FakeLibrary>();
    std::shared_ptr<VirtualQueue> queue = std::make_shared<VirtualQueue>();
    std::shared_ptr<ManualRunner> background = std::make_shared<ManualRunner>();
    std::shared_ptr<MemorySettings> settings = std::make_shared<MemorySettings>();
    std::shared_ptr<FakeMicrophone> microphone = std::make_shared<FakeMicrophone>();
    std::shared_ptr<FakeLoginItem> loginItem = std::make_shared<FakeLoginItem>();
    std::shared_ptr<LoginItem> loginPort;  ///< Used instead of loginItem when set.
    std::shared_ptr<FakeWatcher> usb = std::make_shared<FakeWatcher>();
    std::shared_ptr<FakeWatcher> audio = std::make_shared<FakeWatcher>();
    std::ostringstream reports;
    std::shared_ptr<ConnectModel> model;

    /// Builds the model; the first automatic start is still pending (0.5 s).
    ConnectModel& make() {
        ConnectPorts ports;
        ports.library = library;
        ports.queue = queue;
        ports.background = background;
        ports.settings = settings;
        ports.sha256 = std::make_shared<OpenSslSha256>();
        ports.microphone = microphone;
        ports.loginItem = loginPort ? loginPort : std::shared_ptr<LoginItem>(loginItem);
        ports.usbWatcher = usb;
        ports.audioWatcher = audio;
        ports.reportLog = &reports;
        model = ConnectModel::create(std::move(ports));
        return *model;
    }
};

}  // namespace kova::test

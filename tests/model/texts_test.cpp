#include "tests/model/doubles/model_rig.h"

namespace kova::test {
namespace {

Device phoneNamed(const std::string& name) {
    Device device;
    device.path = "1:1";
    device.name = name;
    return device;
}

TEST(Message, FullCodeRowWinsOverItsBaseCode) {
    const auto nova = phoneNamed("Nova");
    EXPECT_EQ(ConnectModel::message("open_selected_device: LIBUSB_ERROR_ACCESS", nova),
              "KOVA Connect may not open the Nova over USB: install the udev rules from the "
              "README and plug it in again.");
    EXPECT_EQ(ConnectModel::message("open_selected_device: LIBUSB_ERROR_BUSY", nova),
              "Another app is using the Nova over USB (Android File Transfer, adb): close it and "
              "try again.");
}

TEST(Message, BaseCodeBeforeTheFirstColonFindsItsRow) {
    EXPECT_EQ(ConnectModel::message("link_timeout: 3000", std::nullopt),
              "The phone stopped answering.");
    EXPECT_EQ(ConnectModel::message("usb_detached: LIBUSB_ERROR_NO_DEVICE: again", std::nullopt),
              "Cable unplugged.");
}

TEST(Message, DeviceNameReplacesEveryPlaceholderOrPhoneWithoutDevice) {
    EXPECT_EQ(ConnectModel::message("ios_device_not_found", phoneNamed("Nova")),
              "Nova not found: reconnect it, unlock it and tap Trust.");
    EXPECT_EQ(ConnectModel::message("ios_device_not_found", std::nullopt),
              "phone not found: reconnect it, unlock it and tap Trust.");
    EXPECT_EQ(ConnectModel::message("usbmuxd_unavailable", phoneNamed("iPad")),
              "The computer cannot reach the iPad right now: reconnect it, or restart usbmuxd.");
}

TEST(Message, UnknownCodeFallsBackQuotingTheFullCode) {
    EXPECT_EQ(ConnectModel::message("xyz: detail", phoneNamed("Nova")),
              "Something went wrong (xyz: detail): unplug the Nova and connect it again.");
    EXPECT_EQ(ConnectModel::message("ios_app_not_listening", std::nullopt),
              "Something went wrong (ios_app_not_listening): unplug the phone and connect it "
              "again.");
}

TEST(Message, LookupIsExactAndCaseSensitive) {
    EXPECT_EQ(ConnectModel::message("USB_DETACHED", std::nullopt),
              "Something went wrong (USB_DETACHED): unplug the phone and connect it again.");
}

TEST(Tables, SharedTemplatesAndLinuxWording) {
    const auto& names = ConnectModel::errorNames();
    EXPECT_EQ(names.size(), 24u);
    EXPECT_EQ(names.at("src_failed"), names.at("src_create_failed"));
    EXPECT_EQ(names.at("claim_accessory_interface"), names.at("open_selected_device"));
    for (const auto& [code, text] : names) {
        EXPECT_EQ(text.find("Mac"), std::string::npos) << code;
        EXPECT_EQ(text.find("Audio MIDI Setup"), std::string::npos) << code;
    }
    EXPECT_EQ(names.at("kova_device_rate_unknown"),
              "The KOVA audio device has no sample rate: set 48 kHz in your DAW or your sound "
              "settings.");
}

TEST(Tables, PermanentAndAppNotOpenSets) {
    EXPECT_EQ(ConnectModel::permanentErrors().size(), 9u);
    EXPECT_TRUE(ConnectModel::permanentErrors().contains("aoa_not_supported"));
    EXPECT_FALSE(ConnectModel::permanentErrors().contains("src_failed"));
    EXPECT_EQ(ConnectModel::appNotOpen(),
              (std::set<std::string>{"ios_app_not_listening", "control_timeout_check_phone",
                                     "ios_connection_closed", "link_timeout"}));
    EXPECT_EQ(ConnectModel::stateNames().size(), 6u);
}

class IdleText : public ModelRig {};

TEST_F(IdleText, MissingAudioDeviceWinsEvenAfterAUserStop) {
    library->present = false;
    library->setPhones({androidPhone("1:1", "Nova", "One", "s", true)});
    makeSettled();
    EXPECT_EQ(model->stateText(), "KOVA device missing");

    library->present = true;
    model->refresh();
    model->start();
    model->stop();
    EXPECT_EQ(model->phase(), Phase::stopping);
    event(endedEvent(0));
    EXPECT_EQ(model->stateText(), "Stopped · restarts when you reconnect the phone");
    library->present = false;
    model->refresh();
    model->updateIdleText();
    EXPECT_EQ(model->stateText(), "KOVA device missing");
}

TEST_F(IdleText, NonCandidatePhoneWaitsWithAutoStartAndIsStoppedWithout) {
    library->setPhones({androidPhone("1:1", "Acme", "Phone", "s")});
    makeSettled();
    EXPECT_EQ(model->stateText(), "Waiting for a phone with KOVA");
    model->setAutoStart(false);
    EXPECT_EQ(model->stateText(), "Stopped");
}

TEST_F(IdleText, EmptyListWaitsAndTwoCandidatesShowStopped) {
    makeSettled();
    EXPECT_EQ(model->stateText(), "Waiting for a phone with KOVA");
    library->setPhones({androidPhone("1:1", "Nova", "One", "a", true),
                        androidPhone("1:2", "Nova", "Two", "b", true)});
    model->refresh();
    model->updateIdleText();
    EXPECT_EQ(model->stateText(), "Stopped");
}

TEST_F(IdleText, LeavesTheTextAloneWhileRunning) {
    library->setPhones({androidPhone("1:1", "Nova", "One", "a", true)});
    makeSettled();
    ASSERT_EQ(model->phase(), Phase::running);
    ASSERT_EQ(model->stateText(), "Starting…");
    library->present = false;
    model->refresh();
    model->updateIdleText();
    EXPECT_EQ(model->stateText(), "Starting…");
}

}  // namespace
}  // namespace kova::test

#include "tests/model/doubles/model_rig.h"

namespace kova::test {
namespace {

TEST(Message, CodeRowsPlaceholdersAndFallback) {
    struct Case {
        const char* code;
        std::optional<std::string> device;
        std::string text;
    };
    const Case cases[] = {
        // The full code's row wins over its base code's.
        {"open_selected_device: LIBUSB_ERROR_ACCESS", "Nova",
         "KOVA Connect may not open the Nova over USB: install the udev rules from the "
         "README and plug it in again."},
        {"open_selected_device: LIBUSB_ERROR_BUSY", "Nova",
         "Another app is using the Nova over USB (Android File Transfer, adb): close it and "
         "try again."},
        // The base code before the first colon finds its row.
        {"link_timeout: 3000", std::nullopt, "The phone stopped answering."},
        {"usb_detached: LIBUSB_ERROR_NO_DEVICE: again", std::nullopt, "Cable unplugged."},
        {"ios_device_not_found", "Nova", "Nova not found: reconnect it, unlock it and tap Trust."},
        {"ios_device_not_found", std::nullopt,
         "phone not found: reconnect it, unlock it and tap Trust."},
        {"usbmuxd_unavailable", "iPad",
         "The computer cannot reach the iPad right now: reconnect it, or restart usbmuxd."},
        // Unknown codes are quoted in full; the lookup is exact and case-sensitive.
        {"xyz: detail", "Nova",
         "Something went wrong (xyz: detail): unplug the Nova and connect it again."},
        {"ios_app_not_listening", std::nullopt,
         "Something went wrong (ios_app_not_listening): unplug the phone and connect it "
         "again."},
        {"USB_DETACHED", std::nullopt,
         "Something went wrong (USB_DETACHED): unplug the phone and connect it again."},
    };
    for (const auto& [code, name, text] : cases) {
        SCOPED_TRACE(code);
        std::optional<Device> device;
        if (name) {
            device.emplace();
            device->path = "1:1";
            device->name = *name;
        }
        EXPECT_EQ(ConnectModel::message(code, device), text);
    }
}

TEST(Tables, SharedTemplatesLinuxWordingAndTheCodeSets) {
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
    loneAccessoryPhone();
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

TEST_F(IdleText, EmptyListOrNonCandidateWaitsAndTwoCandidatesOrAutoStartOffShowStopped) {
    makeSettled();
    EXPECT_EQ(model->stateText(), "Waiting for a phone with KOVA");
    library->setPhones({androidPhone("1:1", "Nova", "One", "a", true),
                        androidPhone("1:2", "Nova", "Two", "b", true)});
    model->refresh();
    model->updateIdleText();
    EXPECT_EQ(model->stateText(), "Stopped");
    library->setPhones({androidPhone("1:1", "Acme", "Phone", "s")});
    model->refresh();
    model->updateIdleText();
    EXPECT_EQ(model->stateText(), "Waiting for a phone with KOVA");
    model->setAutoStart(false);
    EXPECT_EQ(model->stateText(), "Stopped");
}

TEST_F(IdleText, LeavesTheTextAloneWhileRunning) {
    loneAccessoryPhone();
    ASSERT_EQ(model->phase(), Phase::running);
    ASSERT_EQ(model->stateText(), "Starting…");
    library->present = false;
    model->refresh();
    model->updateIdleText();
    EXPECT_EQ(model->stateText(), "Starting…");
}

}  // namespace
}  // namespace kova::test

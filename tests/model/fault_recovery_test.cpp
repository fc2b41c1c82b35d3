// What the model does with each code the fault matrix ends sessions with: it reconnects once
// the retry is due, or gives up with the code's text when no retry can cure it.
#include "tests/model/doubles/model_rig.h"

namespace kova::test {
namespace {

class FaultRecovery : public ModelRig {};

TEST_F(FaultRecovery, MatrixCodesAreRetriedUntilTheFaultClears) {
    for (const bool ios : {false, true}) {
        for (const char* code :
             {"ios_connection_closed", "control_timeout_check_phone", "link_timeout",
              "write_timeout", "kova_device_lost", "usb_detached", "usbmuxd_unavailable"}) {
            SCOPED_TRACE(std::string(code) + (ios ? " on an iPhone" : " on Android"));
            library = std::make_shared<FakeLibrary>();
            ios ? runningIphone() : runningAndroid();
            ASSERT_EQ(library->sessions.size(), 1u);
            event(endedEvent(1, code));
            EXPECT_EQ(model->phase(), Phase::running);
            queue->advance(10s);
            probe();
            ASSERT_EQ(library->sessions.size(), 2u);
            event(stateEvent("Streaming"));
            EXPECT_EQ(model->stateText(), "Playing on the phone");
            model.reset();
        }
    }
}

TEST_F(FaultRecovery, PermanentCodesGiveUpWithTheirText) {
    for (const std::string& code : ConnectModel::permanentErrors()) {
        SCOPED_TRACE(code);
        library = std::make_shared<FakeLibrary>();
        runningAndroid();
        event(endedEvent(1, code));
        EXPECT_EQ(model->phase(), Phase::idle);
        EXPECT_EQ(model->stateText(), "Error");
        EXPECT_EQ(model->errorText(), ConnectModel::message(code, model->device("1:1")));
        queue->advance(20s);
        EXPECT_EQ(library->sessions.size(), 1u);
        model.reset();
    }
}

}  // namespace
}  // namespace kova::test

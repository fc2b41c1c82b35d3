#include "tests/model/doubles/model_rig.h"

namespace kova::test {
namespace {

class AutoStart : public ModelRig {
  protected:
    void plugIn(const std::vector<nlohmann::json>& phones) {
        library->setPhones(phones);
        usb->fire();
    }
};

TEST_F(AutoStart, ALoneAccessoryPhoneAtLaunchStartsAfterHalfASecondUntilSwitchedOff) {
    settings->values["autoStart"] = std::string("no");  // mistyped: the default, on
    library->setPhones({androidPhone("1:1", "Nova", "One", "s", true)});
    make();
    EXPECT_TRUE(model->autoStart());
    queue->advance(499ms);
    EXPECT_TRUE(library->sessions.empty());
    queue->advance(1ms);
    ASSERT_EQ(library->sessions.size(), 1u);
    EXPECT_EQ(library->last().options["device"], "1:1");

    model->stop();
    event(endedEvent(0));
    model->setAutoStart(false);
    EXPECT_EQ(stored<bool>("autoStart"), false);
    model.reset();
    library->sessions.clear();
    makeSettled();
    EXPECT_FALSE(model->autoStart());
    EXPECT_TRUE(library->sessions.empty());
    // The audio device leaving shows it is missing.
    library->present = false;
    audio->fire();
    EXPECT_FALSE(model->kovaDevicePresent());
    EXPECT_EQ(model->stateText(), "KOVA device missing");
}
TEST_F(AutoStart, BurstOfUsbEventsSettlesOnceAndAPairedPhoneStartsAfterTheShortSettle) {
    makeSettled();
    const int lists = library->listCalls;
    for (int event = 0; event < 5; ++event) {
        usb->fire();
        queue->advance(500ms);
    }
    EXPECT_EQ(library->listCalls, lists);
    queue->advance(300ms);
    EXPECT_EQ(library->listCalls, lists + 1);
    queue->advance(2200ms);
    EXPECT_EQ(library->listCalls, lists + 2);
    EXPECT_EQ(queue->pending(), 0u);

    // Plugging a paired phone starts it after the short settle.
    settings->values["pairedPhones"] = std::vector<std::string>{model->hash("serial-1")};
    plugIn({androidPhone("1:1", "Nova", "One", "serial-1")});
    queue->advance(800ms);
    ASSERT_EQ(library->sessions.size(), 1u);
    EXPECT_EQ(model->selectedPath(), "1:1");
    const int settled = library->listCalls;
    queue->advance(2200ms);  // the long settle finds a session and does nothing
    EXPECT_EQ(library->listCalls, settled);
    EXPECT_EQ(library->sessions.size(), 1u);
}

TEST_F(AutoStart, TwoCandidatesStartNothingAndALateIphoneIsStartedByTheLongSettle) {
    makeSettled();
    plugIn({androidPhone("1:1", "Nova", "One", "a", true), iPhone(iosPath, "iPhone", "u")});
    queue->advance(3s);
    probe();
    EXPECT_TRUE(library->sessions.empty());
    EXPECT_TRUE(library->probes.empty());
    EXPECT_EQ(model->stateText(), "Stopped");

    plugIn({});
    queue->advance(800ms);
    EXPECT_TRUE(background->jobs.empty());
    library->setPhones({iPhone(iosPath, "iPhone 15", "udid")});  // usbmuxd publishes it now
    library->probeAnswers = {1};
    queue->advance(2200ms);
    probe();
    ASSERT_EQ(library->sessions.size(), 1u);
    EXPECT_EQ(library->last().options["device"], iosPath);
}

TEST_F(AutoStart, LoneCandidateWinsOverAHandPickedNonCandidate) {
    library->setPhones({androidPhone("1:1", "Acme", "Phone", "x")});
    settings->values["autoStart"] = false;
    makeSettled();
    model->setSelectedPath("1:1");
    library->setPhones(
        {androidPhone("1:1", "Acme", "Phone", "x"), androidPhone("1:2", "Nova", "One", "a", true)});
    model->refresh();
    model->setAutoStart(true);
    queue->advance(500ms);
    EXPECT_EQ(model->selectedPath(), "1:2");
    EXPECT_EQ(library->sessions.size(), 1u);
}

TEST_F(AutoStart, SwitchingOffRecomputesTheTextAndOnSchedulesAStart) {
    settings->values["autoStart"] = false;
    loneAccessoryPhone();
    EXPECT_TRUE(library->sessions.empty());
    model->setAutoStart(true);
    EXPECT_EQ(queue->pendingDelays(), std::vector<std::chrono::milliseconds>{500ms});
    queue->advance(500ms);
    EXPECT_EQ(library->sessions.size(), 1u);

    event(endedEvent(0));  // the phone app ended it; not a user stop
    library->setPhones({});
    model->refresh();
    model->updateIdleText();
    ASSERT_EQ(model->stateText(), "Waiting for a phone with KOVA");
    model->setAutoStart(false);
    EXPECT_EQ(model->stateText(), "Stopped");
    EXPECT_EQ(stored<bool>("autoStart"), false);
}

TEST_F(AutoStart, UnplugDuringAReconnectCancelsItAndPicksUpAnotherLoneCandidate) {
    loneAccessoryPhone();
    event(endedEvent(1, "link_timeout"));
    ASSERT_EQ(model->stateText(), "Reconnecting in 1 s…");
    plugIn({iPhone(iosPath, "iPhone 15", "u")});  // the Android phone left, an iPhone is there
    library->probeAnswers = {1};
    queue->advance(800ms);
    EXPECT_EQ(model->phase(), Phase::running);  // the iPhone's probe has begun
    probe();
    ASSERT_EQ(library->sessions.size(), 2u);
    EXPECT_EQ(library->last().options["device"], iosPath);
    queue->advance(5s);
    EXPECT_EQ(library->sessions.size(), 2u);  // the cancelled reconnect never ran
}

TEST_F(AutoStart, UnplugDuringAReconnectWithNothingLeftGoesIdle) {
    loneAccessoryPhone();
    event(endedEvent(1, "link_timeout"));
    plugIn({});
    queue->advance(800ms);
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->stateText(), "Waiting for a phone with KOVA");
    queue->advance(10s);
    EXPECT_EQ(library->sessions.size(), 1u);
}

TEST_F(AutoStart, ReplugAfterAUserStopRestartsButOtherUsbEventsDoNot) {
    loneAccessoryPhone();
    model->stop();
    event(endedEvent(0));
    ASSERT_EQ(model->stateText(), "Stopped · restarts when you reconnect the phone");

    // Another device comes and goes while the phone stays: no restart.
    plugIn({androidPhone("1:1", "Nova", "One", "a", true), androidPhone("2:1", "Acme", "Key", "")});
    queue->advance(3s);
    EXPECT_EQ(library->sessions.size(), 1u);
    EXPECT_EQ(model->stateText(), "Stopped · restarts when you reconnect the phone");

    plugIn({});
    queue->advance(3s);
    EXPECT_EQ(model->stateText(), "Waiting for a phone with KOVA");
    plugIn({androidPhone("1:1", "Nova", "One", "a", true)});
    queue->advance(800ms);
    EXPECT_EQ(library->sessions.size(), 2u);
}

TEST_F(AutoStart, HotPlugFindingThePhoneGoneEndsAnIphoneWait) {
    library->setPhones({iPhone(iosPath, "iPhone 15", "u")});
    library->probeAnswers = {0};
    makeSettled();
    probe();
    ASSERT_EQ(model->stateText(), "Unlock the iPhone 15 and open KOVA");
    plugIn({});
    queue->advance(800ms);
    EXPECT_EQ(model->phase(), Phase::idle);
    queue->advance(10s);
    probe();
    EXPECT_EQ(library->probes.size(), 1u);
}

TEST_F(AutoStart, UsbSettleWhileASessionRunsLeavesItAlone) {
    loneAccessoryPhone();
    plugIn({});
    queue->advance(3s);
    EXPECT_EQ(model->phase(), Phase::running);
    EXPECT_EQ(library->last().stops, 0);
    // The session notices the loss of its own link.
    event(endedEvent(1, "usb_detached"));
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->errorText(), std::nullopt);
}

TEST_F(AutoStart, AudioDeviceArrivalWhileIdleRefreshesAndStartsAndLaterChangesAreIgnored) {
    library->present = false;
    loneAccessoryPhone();
    EXPECT_EQ(model->stateText(), "KOVA device missing");
    EXPECT_TRUE(library->sessions.empty());
    library->present = true;
    audio->fire();
    EXPECT_TRUE(model->kovaDevicePresent());
    EXPECT_EQ(library->sessions.size(), 1u);

    // Changes during the session are left to it.
    const int lists = library->listCalls;
    library->present = false;
    audio->fire();
    EXPECT_EQ(library->listCalls, lists);
    EXPECT_TRUE(model->kovaDevicePresent());
}

TEST_F(AutoStart, WithoutWatchersManualStartStillWorks) {
    usb->refuse = true;
    audio->refuse = true;
    settings->values["autoStart"] = false;
    loneAccessoryPhone();
    model->start();
    EXPECT_EQ(library->sessions.size(), 1u);
}

TEST_F(AutoStart, WatchersHoldTheModelOnlyWeakly) {
    makeSettled();
    std::weak_ptr<ConnectModel> weak = model;
    model.reset();
    EXPECT_TRUE(weak.expired());
    usb->fire();
    audio->fire();
    queue->advance(5s);
}

}  // namespace
}  // namespace kova::test

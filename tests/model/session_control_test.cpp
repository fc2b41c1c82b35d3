#include <regex>

#include "tests/model/doubles/model_rig.h"

namespace kova::test {
namespace {

using nlohmann::json;

class SessionControl : public ModelRig {};

TEST_F(SessionControl, StartDoesNothingWithoutPhoneOrAudioDeviceOrWhileRunning) {
    settings->values["autoStart"] = false;
    library->setPhones({androidPhone("1:1", "Nova", "One", "s1")});
    makeSettled();
    EXPECT_FALSE(model->canStart());
    model->start();
    EXPECT_TRUE(library->sessions.empty());

    model->setSelectedPath("1:1");
    library->present = false;
    model->refresh();
    EXPECT_FALSE(model->canStart());
    model->start();
    EXPECT_TRUE(library->sessions.empty());

    library->present = true;
    model->refresh();
    model->start();
    EXPECT_FALSE(model->canStart());
    model->start();
    EXPECT_EQ(library->sessions.size(), 1u);
}

TEST_F(SessionControl, AndroidOptionsCarryTheLongHelloAndTheStoredIdentity) {
    settings->values["accessoryId"] = std::string("kova-connect-1a2b3c4d");
    runningAndroid();
    ASSERT_EQ(library->sessions.size(), 1u);
    EXPECT_EQ(library->last().options, (json{{"device", "1:1"},
                                             {"kovaDevice", true},
                                             {"seconds", 0},
                                             {"helloTimeoutMs", 60000},
                                             {"accessoryId", "kova-connect-1a2b3c4d"}}));
    EXPECT_EQ(library->last().optionsText.find(' '), std::string::npos);
    EXPECT_EQ(model->phase(), Phase::running);
    EXPECT_EQ(model->stateText(), "Starting…");
}

TEST_F(SessionControl, FirstAccessoryIdIsGeneratedStoredAndReusedAndRefusedOptionsShowAnError) {
    chosenByHand();
    const std::string first = model->accessoryId();
    EXPECT_TRUE(std::regex_match(first, std::regex("kova-connect-[0-9a-f]{8}"))) << first;
    EXPECT_EQ(stored<std::string>("accessoryId"), first);
    EXPECT_EQ(model->accessoryId(), first);

    library->refuseOptions = true;
    model->start();
    EXPECT_EQ(model->errorText(), "Invalid session options.");
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->glyphState(), GlyphState::error);
    library->refuseOptions = false;
    model->start();
    EXPECT_EQ(library->last().options["accessoryId"], first);
    EXPECT_EQ(model->errorText(), std::nullopt);
}

TEST_F(SessionControl, UnlistedPathCountsAsAndroid) {
    chosenByHand();
    model->openSession("2:7");
    EXPECT_EQ(library->last().options["helloTimeoutMs"], 60000);
    EXPECT_TRUE(library->last().options.contains("accessoryId"));
}

TEST_F(SessionControl, IphoneIsProbedFirstAndOpenedWithTheShortHelloWithoutIdentity) {
    probingIphone({1});
    EXPECT_EQ(model->phase(), Phase::running);
    EXPECT_TRUE(library->sessions.empty());  // the probe runs off the main thread first
    probe();
    EXPECT_EQ(library->probes, std::vector<std::string>{iosPath});
    ASSERT_EQ(library->sessions.size(), 1u);
    EXPECT_EQ(
        library->last().options,
        (json{
            {"device", iosPath}, {"kovaDevice", true}, {"seconds", 0}, {"helloTimeoutMs", 5000}}));
    EXPECT_EQ(model->stateText(), "Starting…");
}

TEST_F(SessionControl, IphoneAppNotAnsweringIsProbedAgainEveryTwoSeconds) {
    probingIphone({0, -1, 1});
    probe();
    EXPECT_EQ(model->stateText(), "Unlock the iPhone 15 and open KOVA");
    EXPECT_EQ(model->errorText(), std::nullopt);
    EXPECT_EQ(model->phase(), Phase::running);

    queue->advance(1999ms);
    EXPECT_TRUE(background->jobs.empty());
    queue->advance(1ms);
    probe();  // -1 is treated like 0
    EXPECT_EQ(library->probes.size(), 2u);
    EXPECT_TRUE(library->sessions.empty());

    queue->advance(2s);
    probe();
    EXPECT_EQ(library->probes.size(), 3u);
    EXPECT_EQ(library->sessions.size(), 1u);
}

TEST_F(SessionControl, IphoneGoneDuringTheProbeReturnsToIdleAndSchedulesAutoStart) {
    probingIphone({0});
    library->setPhones({});
    probe();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->stateText(), "Stopped");
    EXPECT_EQ(queue->pendingDelays(), std::vector<std::chrono::milliseconds>{500ms});
}

TEST_F(SessionControl, StopDuringTheProbeEndsTheLoop) {
    probingIphone({1});
    model->stop();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->stateText(), "Stopped · restarts when you reconnect the phone");
    probe();
    EXPECT_TRUE(library->sessions.empty());
}

TEST_F(SessionControl, RestartAfterStopDuringAProbeKeepsOneProbeLoopAndAsksForTrust) {
    probingIphone({0, 0, 0, 0, 0, 0}, false);
    model->stop();
    model->start();
    probe();  // both probes answer "not yet"
    EXPECT_EQ(model->stateText(), "On the iPhone 15, tap Trust for this computer");
    EXPECT_EQ(queue->pending(), 1u);
    queue->advance(2s);
    probe();
    EXPECT_EQ(library->probes.size(), 3u);
    model->stop();
    queue->advance(10s);
    probe();
    EXPECT_EQ(library->probes.size(), 3u);
    EXPECT_EQ(model->phase(), Phase::idle);
}

TEST_F(SessionControl, StopWithASessionAsksTheLibraryAndEndedFinishesIt) {
    runningAndroid();
    event(stateEvent("Streaming"));
    model->stop();
    EXPECT_EQ(model->phase(), Phase::stopping);
    EXPECT_EQ(model->stateText(), "Stopping…");
    EXPECT_EQ(library->last().stops, 1);
    model->stop();  // only while running
    EXPECT_EQ(library->last().stops, 1);

    event(stateEvent("Connecting"));
    EXPECT_EQ(model->stateText(), "Stopping…");
    event(endedEvent(0));
    EXPECT_TRUE(library->last().freed);
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_FALSE(model->streaming());
    EXPECT_EQ(model->stateText(), "Stopped · restarts when you reconnect the phone");
    EXPECT_EQ(queue->pending(), 0u);

    // A cancelled end after a stop is as clean.
    model->start();
    model->stop();
    event(endedEvent(130, "cancelled"));
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->errorText(), std::nullopt);
    EXPECT_EQ(model->stateText(), "Stopped · restarts when you reconnect the phone");
}

TEST_F(SessionControl, StopDuringAReconnectCancelsIt) {
    runningAndroid();
    event(endedEvent(1, "link_timeout"));
    ASSERT_EQ(model->stateText(), "Reconnecting in 1 s…");
    model->stop();
    EXPECT_EQ(model->phase(), Phase::idle);
    queue->advance(30s);
    EXPECT_EQ(library->sessions.size(), 1u);
}

TEST_F(SessionControl, MicrophoneDeniedRestrictedOrRefusedShowsWhereToAllowIt) {
    for (const auto answer : {Microphone::Status::denied, Microphone::Status::restricted,
                              Microphone::Status::notDetermined}) {
        SCOPED_TRACE(static_cast<int>(answer));
        library = std::make_shared<FakeLibrary>();
        chosenByHand();
        microphone->answer = answer;
        model->start();
        if (answer == Microphone::Status::notDetermined) {
            ASSERT_TRUE(microphone->pendingRequest);
            microphone->pendingRequest(false);
            queue->runReady();
        }
        EXPECT_EQ(model->errorText(),
                  "Allow the microphone for KOVA Connect in System Settings › Privacy & Security › "
                  "Microphone: it is needed to read the KOVA output.");
        EXPECT_TRUE(library->sessions.empty());
        EXPECT_EQ(model->phase(), Phase::idle);
        model.reset();
    }
}

TEST_F(SessionControl, UndeterminedMicrophoneStartsOnceGrantedOnTheMainQueue) {
    chosenByHand();
    microphone->answer = Microphone::Status::notDetermined;
    model->start();
    ASSERT_TRUE(microphone->pendingRequest);
    microphone->pendingRequest(true);
    EXPECT_TRUE(library->sessions.empty());
    queue->runReady();
    EXPECT_EQ(library->sessions.size(), 1u);
}

TEST_F(SessionControl, ReconnectThatFindsTheAudioDeviceGoneReturnsToIdle) {
    runningAndroid();
    event(endedEvent(1, "usb_detached"));
    library->present = false;
    queue->advance(1s);
    EXPECT_EQ(library->sessions.size(), 1u);
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->stateText(), "KOVA device missing");
}

TEST_F(SessionControl, EventCallbackOnlyQueuesAndKeepsTheModelUntilHandled) {
    runningAndroid();
    const auto session = library->last();
    std::weak_ptr<ConnectModel> weak = model;
    session.callback(session.context, stateEvent("Streaming").c_str());
    session.callback(session.context, nullptr);
    session.callback(nullptr, stateEvent("Stopping").c_str());
    model.reset();
    EXPECT_FALSE(weak.expired());  // the queued event holds it
    queue->runReady();
    EXPECT_TRUE(weak.expired());
    // Going away with a session still open frees it.
    EXPECT_TRUE(library->sessions.back().freed);
}

TEST_F(SessionControl, WillTerminateFreesTheRunningSession) {
    runningAndroid();
    model->willTerminate();
    EXPECT_TRUE(library->last().freed);
    EXPECT_EQ(library->freeCalls, 1);
    model.reset();
    EXPECT_EQ(library->freeCalls, 1);
}

}  // namespace
}  // namespace kova::test

#include "tests/model/doubles/model_rig.h"

namespace kova::test {
namespace {

using nlohmann::json;

class Events : public ModelRig {};

TEST_F(Events, EveryKnownStateSetsItsTextWhileRunningAndMalformedEventsAreIgnored) {
    runningAndroid();
    for (const auto& [state, text] : ConnectModel::stateNames()) {
        event("{\"event\":\"state\",\"state\":\"" + state + "\"}");
        EXPECT_EQ(model->stateText(), text) << state;
    }
    event(stateEvent("Negotiating"));
    event(stateEvent("Stopped"));  // no row: unchanged
    EXPECT_EQ(model->stateText(), "Waiting for KOVA on the phone…");

    // Malformed events change nothing.
    changes.clear();
    for (const char* text :
         {"", "[1]", "{\"event\":3}", "{\"state\":\"Streaming\"}",
          "{\"event\":\"report\",\"report\":{}}", "{\"event\":\"state\"}", "not json"}) {
        event(text);
    }
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(model->phase(), Phase::running);
}

TEST_F(Events, StreamingAndStatusFillTheMetersAndEndedClearsThemAndWritesTheReport) {
    runningAndroid();
    EXPECT_EQ(model->glyphState(), GlyphState::idle);
    changes.clear();
    event(R"({"event":"state","state":"Streaming"})");
    EXPECT_TRUE(model->streaming());
    EXPECT_EQ(model->stateText(), "Playing on the phone");
    EXPECT_EQ(model->glyphState(), GlyphState::streaming);
    EXPECT_TRUE(changed(Property::streaming));
    EXPECT_TRUE(changed(Property::stateText));

    event(R"({"capturePeak":0.5,"captureSampleRate":44100.0,"event":"status","framesSent":9600,)"
          R"("pacingMaxLateMs":0.4,"phone":{"occupancyMean":2044.8,"state":"Playing",)"
          R"("underruns":2}})");
    EXPECT_EQ(model->inputPeak(), 0.5);
    EXPECT_DOUBLE_EQ(*model->bufferMs(), 42.6);
    EXPECT_EQ(model->underruns(), 2);
    EXPECT_EQ(model->kovaSampleRate(), 44100.0);
    EXPECT_EQ(model->stateText(), "Playing on the phone");

    model->stop();
    const std::string ended = endedEvent(0);
    event(ended);
    EXPECT_FALSE(model->streaming());
    EXPECT_EQ(model->inputPeak(), std::nullopt);
    EXPECT_EQ(model->bufferMs(), std::nullopt);
    EXPECT_EQ(model->underruns(), std::nullopt);
    EXPECT_EQ(reports.str(), json::parse(ended)["report"].dump() + "\n");
}

TEST_F(Events, InterruptedPhoneShowsThePauseOnlyWhileStreamingAndMissingMembersTakeDefaults) {
    runningAndroid();
    event(stateEvent("Negotiating"));
    event(statusEvent({{"state", "Interrupted"}}, 0.1, 48000.0));
    EXPECT_EQ(model->stateText(), "Waiting for KOVA on the phone…");
    event(stateEvent("Streaming"));
    event(statusEvent({{"state", "Interrupted"}, {"underruns", 0}}, 0.0, 48000.0));
    EXPECT_EQ(model->stateText(), "Paused on the phone (call)");
    event(statusEvent({{"state", "Playing"}, {"underruns", 0}}, 0.0, 48000.0));
    EXPECT_EQ(model->stateText(), "Playing on the phone");

    // Missing members take their defaults.
    event(statusEvent({{"occupancyMean", 960}, {"underruns", 4}}, 0.25, 48000.0));
    ASSERT_EQ(model->bufferMs(), 20.0);
    // No phone object: the buffer stays, underruns clear; no peak: it clears; rate 0: kept.
    event(R"({"captureSampleRate":0.0,"event":"status","framesSent":1,"pacingMaxLateMs":0.0})");
    EXPECT_EQ(model->bufferMs(), 20.0);
    EXPECT_EQ(model->underruns(), std::nullopt);
    EXPECT_EQ(model->inputPeak(), std::nullopt);
    EXPECT_EQ(model->kovaSampleRate(), 48000.0);
    // A fractional underrun count is not a whole number.
    event(statusEvent({{"underruns", 1.5}}, 0.0, 0.0));
    EXPECT_EQ(model->underruns(), std::nullopt);
    event(statusEvent({{"underruns", 3.0}}, 0.0, 0.0));
    EXPECT_EQ(model->underruns(), 3);
}

TEST_F(Events, SixFailuresReconnectAfterOneTwoFourEightTenTenSecondsUntilStreamingResetsTheDelay) {
    runningAndroid();
    std::vector<std::string> texts;
    std::vector<std::chrono::milliseconds> waits;
    for (int attempt = 0; attempt < 6; ++attempt) {
        event(endedEvent(1, "link_timeout"));
        texts.push_back(model->stateText());
        waits.push_back(queue->pendingDelays().at(0));
        EXPECT_EQ(model->phase(), Phase::running);
        const auto listed = library->listCalls;
        queue->advance(waits.back());
        EXPECT_GT(library->listCalls, listed);  // refreshed before reconnecting
        ASSERT_EQ(library->sessions.size(), static_cast<std::size_t>(attempt + 2));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Reconnecting in 1 s…", "Reconnecting in 2 s…",
                                               "Reconnecting in 4 s…", "Reconnecting in 8 s…",
                                               "Reconnecting in 10 s…", "Reconnecting in 10 s…"}));
    EXPECT_EQ(waits, (std::vector<std::chrono::milliseconds>{1s, 2s, 4s, 8s, 10s, 10s}));
    EXPECT_EQ(model->errorText(), "The phone stopped answering.");

    // Streaming resets the delay; Ready clears the error and pairs the phone.
    event(stateEvent("Streaming"));
    event(endedEvent(1, "usb_detached"));
    EXPECT_EQ(model->stateText(), "Reconnecting in 1 s…");
    EXPECT_EQ(model->errorText(), "Cable unplugged.");
    queue->runNext();
    event(stateEvent("Ready"));
    EXPECT_EQ(model->errorText(), std::nullopt);
    EXPECT_TRUE(model->device("1:1")->paired);
}

TEST_F(Events, EndedLeavesThePhaseTextErrorAndTimerOfItsCode) {
    enum Setup { android, iphone, androidGone };
    struct Case {
        Setup setup;
        std::string ended;
        Phase phase;
        std::string state;
        const char* error;  // none when null
        int retryMs;        // the one pending timer, none when negative
    };
    const Case cases[] = {
        {android, endedEvent(0), Phase::idle, "Stopped", nullptr, -1},
        // The phone left with its session: no error, and auto start looks again.
        {androidGone, endedEvent(1, "usb_detached"), Phase::idle, "Stopped", nullptr, 500},
        // The phone's prefix is removed before the lookup.
        {android, endedEvent(1, "phone_error: audio_focus_lost"), Phase::running,
         "Reconnecting in 1 s…", "Another app took the phone's audio.", 1000},
        {android, endedEvent(1, "aoa_not_supported"), Phase::idle, "Error",
         "This device does not support KOVA: choose the Android phone.", -1},
        {android, R"({"code":1,"event":"ended","report":"broken"})", Phase::running,
         "Reconnecting in 1 s…",
         "Something went wrong (unknown): unplug the Nova One and connect it again.", 1000},
        // The app on the iPhone is not open yet: wait for it without an error.
        {iphone, endedEvent(1, "ios_connection_closed"), Phase::running,
         "Unlock the iPhone 15 and open KOVA", nullptr, 1000},
        {iphone, endedEvent(1, "built_in_speaker_unavailable"), Phase::running,
         "Waiting for the iPhone 15…",
         "Headphones or another output are connected to the iPhone 15: unplug them, KOVA "
         "plays on its speaker.",
         1000},
        {iphone, endedEvent(1, "kova_device_not_found"), Phase::idle, "Error",
         "KOVA audio device not installed.", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ended);
        library = std::make_shared<FakeLibrary>();
        c.setup == iphone ? runningIphone() : runningAndroid();
        if (c.setup == androidGone) {
            library->setPhones({});
        }
        event(c.ended);
        EXPECT_EQ(model->phase(), c.phase);
        EXPECT_EQ(model->stateText(), c.state);
        EXPECT_EQ(model->errorText(), c.error ? std::optional<std::string>(c.error) : std::nullopt);
        EXPECT_EQ(model->glyphState(), c.error ? GlyphState::error : GlyphState::idle);
        EXPECT_EQ(queue->pendingDelays(), c.retryMs < 0
                                              ? std::vector<std::chrono::milliseconds>{}
                                              : std::vector<std::chrono::milliseconds>{
                                                    std::chrono::milliseconds(c.retryMs)});
        model.reset();
    }
}

}  // namespace
}  // namespace kova::test

#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/model/doubles/model_parts.h"

namespace kova::test {

using namespace std::chrono_literals;

/// The emulated iPhone most model tests plug in.
inline const std::string iosPath = "ios:00008030001a";

/// ModelParts as a gtest fixture that also records which properties changed.
class ModelRig : public ::testing::Test, public ModelParts {
  protected:
    std::vector<Property> changes;

    ConnectModel& make() {
        ModelParts::make();
        model->observe([this](Property property) { changes.push_back(property); });
        return *model;
    }

    /// Builds the model and lets its start-up timers run.
    ConnectModel& makeSettled() {
        make();
        queue->advance(1s);
        return *model;
    }

    /// The usual Android phone, or the iPhone, alone and chosen by hand, with automatic start
    /// out of the way.
    void chosenByHand(bool ios = false, bool trusted = true) {
        settings->values["autoStart"] = false;
        library->setPhones({ios ? iPhone(iosPath, "iPhone 15", "udid", trusted)
                                : androidPhone("1:1", "Nova", "One", "s1")});
        makeSettled();
        model->setSelectedPath(ios ? iosPath : "1:1");
    }

    /// The usual Android phone, ready for KOVA and alone, so that automatic start opens a
    /// session with it once the model has settled.
    void loneAccessoryPhone() {
        library->setPhones({androidPhone("1:1", "Nova", "One", "a", true)});
        makeSettled();
    }

    /// The usual Android phone, chosen by hand and started.
    void runningAndroid() {
        chosenByHand();
        model->start();
    }

    /// The iPhone chosen by hand and started, its probe held with `answers` queued.
    void probingIphone(std::deque<int> answers, bool trusted = true) {
        chosenByHand(true, trusted);
        library->probeAnswers = std::move(answers);
        model->start();
    }

    /// The iPhone with a session open; the next probe finds the app too.
    void runningIphone() {
        probingIphone({1, 1});
        probe();
    }

    /// Delivers a session event and lets the main queue apply it.
    void event(const std::string& json) {
        library->emit(json);
        queue->runReady();
    }

    /// Runs the held iPhone probes and applies their answers.
    void probe() {
        background->runAll();
        queue->runReady();
    }

    /// Whether `property` changed since `changes` was last cleared.
    bool changed(Property property) const {
        return std::find(changes.begin(), changes.end(), property) != changes.end();
    }

    /// The stored value under `key`.
    template <typename T>
    std::optional<T> stored(const std::string& key) const {
        const auto value = settings->value(key);
        if (value && std::holds_alternative<T>(*value)) {
            return std::get<T>(*value);
        }
        return std::nullopt;
    }
};

}  // namespace kova::test

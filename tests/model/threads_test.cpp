#include <thread>

#include "tests/model/doubles/model_rig.h"

namespace kova::test {
namespace {

// A library whose sessions send their events from a worker thread, as the real one does.
class WorkerLibrary : public FakeLibrary {
  public:
    std::vector<std::string> script;
    KovaSession* sessionStart(const char* options, kova_event_callback callback,
                              void* context) override {
        KovaSession* handle = FakeLibrary::sessionStart(options, callback, context);
        worker_ = std::thread([this, callback, context] {
            for (const auto& text : script) {
                callback(context, text.c_str());
            }
        });
        return handle;
    }
    void sessionFree(KovaSession* session) override {
        if (worker_.joinable()) {
            worker_.join();
        }
        FakeLibrary::sessionFree(session);
    }
    ~WorkerLibrary() override {
        if (worker_.joinable()) {
            worker_.join();
        }
    }

  private:
    std::thread worker_;
};

class WorkerThread : public ModelRig {
  protected:
    std::shared_ptr<WorkerLibrary> worker = std::make_shared<WorkerLibrary>();
    void SetUp() override { library = worker; }

    // Runs the main queue until `done` holds, bounded so a hang fails instead of blocking.
    template <typename Condition>
    bool runUntil(Condition done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            queue->runReady();
            std::this_thread::yield();
        }
        return true;
    }
};

TEST_F(WorkerThread, EventsFromTheWorkerAreAppliedInOrderOnTheMainThread) {
    worker->script = {stateEvent("Connecting"),
                      stateEvent("Negotiating"),
                      stateEvent("Ready"),
                      stateEvent("Streaming"),
                      statusEvent({{"occupancyMean", 960}, {"underruns", 1}}, 0.5, 48000.0),
                      endedEvent(1, "link_timeout")};
    library->setPhones({androidPhone("1:1", "Nova", "One", "abc", true)});
    std::vector<std::string> texts;
    make();
    model->observe([this, &texts](Property property) {
        if (property == Property::stateText) {
            texts.push_back(model->stateText());
        }
    });
    queue->advance(500ms);
    ASSERT_TRUE(runUntil([this] { return model->stateText() == "Reconnecting in 1 s…"; }));
    EXPECT_EQ(texts, (std::vector<std::string>{"Starting…", "Connecting to KOVA…",
                                               "Waiting for KOVA on the phone…", "Phone ready",
                                               "Playing on the phone", "Reconnecting in 1 s…"}));
    EXPECT_TRUE(worker->sessions.front().freed);
    EXPECT_TRUE(model->device("1:1")->paired);
}

TEST_F(WorkerThread, ModelMayGoAwayWhileTheWorkerStillSends) {
    worker->script.assign(200, stateEvent("Streaming"));
    worker->script.push_back(endedEvent(0));
    library->setPhones({androidPhone("1:1", "Nova", "One", "abc", true)});
    make();
    queue->advance(500ms);
    ASSERT_EQ(worker->sessions.size(), 1u);
    model.reset();  // queued events keep it alive; the last one lets it go and frees the session
    ASSERT_TRUE(runUntil([this] { return worker->sessions.front().freed; }));
    queue->runReady();
}

}  // namespace
}  // namespace kova::test

#include "tools/cli/session_command.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "core/api/kova.h"
#include "tools/cli/event_queue.h"
#include "tools/cli/interrupt_signal.h"
#include "tools/cli/live_status.h"

namespace kova::cli {
namespace {

using Clock = std::chrono::steady_clock;

void enqueue_event(void* context, const char* event_json) {
    static_cast<EventQueue*>(context)->push(event_json);
}

// Follows the session's events until "ended"; the first interrupt asks for a graceful stop
// (the phone gets its stop message), the second cancels.
class SessionFollower {
  public:
    SessionFollower(KovaSession* session, EventQueue& queue, bool json, bool live)
        : session_(session), queue_(queue), json_(json), live_(live) {}

    ~SessionFollower() { kova_session_free(session_); }

    int follow() {
        std::string text;
        for (;;) {
            handle_interrupts();
            if (queue_.pop(text, std::chrono::milliseconds(100))) {
                if (handle_event(text)) {
                    return code_;
                }
            }
            redraw();
        }
    }

    const nlohmann::json& report() const { return report_; }

  private:
    void handle_interrupts() {
        const int count = interrupt_count();
        if (count >= 1 && !stop_sent_) {
            stop_sent_ = true;
            kova_session_stop(session_);
            note("stopping: press Ctrl-C again to interrupt");
        }
        if (count >= 2 && session_ != nullptr) {
            note("interrupting");
            kova_session_free(session_);  // delivers "ended" before it returns
            session_ = nullptr;
        }
    }

    bool handle_event(const std::string& text) {
        if (json_) {
            std::cout << text << std::endl;
        }
        const nlohmann::json event = nlohmann::json::parse(text);
        status_.apply(event, Clock::now());
        if (event.value("event", "") != "ended") {
            return false;
        }
        code_ = event.value("code", 1);
        report_ = event.value("report", nlohmann::json::object());
        return true;
    }

    void redraw() {
        if (live_) {
            std::cerr << "\r\033[K" << status_.line(Clock::now()) << std::flush;
        }
    }

    void note(const char* text) {
        if (!json_) {
            std::cerr << (live_ ? "\r\033[K" : "") << "kova: " << text << std::endl;
        }
    }

    KovaSession* session_;
    EventQueue& queue_;
    bool json_;
    bool live_;
    bool stop_sent_ = false;
    LiveStatus status_;
    int code_ = 1;
    nlohmann::json report_ = nlohmann::json::object();
};

}  // namespace

int run_session_command(const CliOptions& options) {
    EventQueue queue;
    const std::string document = options_document(options).dump();
    install_interrupt_counter();
    KovaSession* session = kova_session_start(document.c_str(), enqueue_event, &queue);
    if (session == nullptr) {
        std::cerr << "kova: the library refused the session options " << document << "\n";
        return 2;
    }
    const bool live = !options.json && ::isatty(STDERR_FILENO);
    SessionFollower follower(session, queue, options.json, live);
    const int code = follower.follow();
    if (!options.json) {
        if (live) {
            std::cerr << "\r\033[K";
        }
        std::cerr << summary_text(code, follower.report());
        std::cout << follower.report().dump() << std::endl;
    }
    return code;
}

}  // namespace kova::cli

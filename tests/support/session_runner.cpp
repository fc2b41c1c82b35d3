#include "tests/support/session_runner.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <thread>

#include "core/session/report.h"
#include "core/session/run_session.h"
#include "core/transport/socket_transport.h"
#include "tests/support/socket_pair.h"

namespace kova::test {
namespace {

void write_all(int fd, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            throw std::runtime_error("stale bytes did not fit");
        }
        sent += static_cast<size_t>(n);
    }
}

// Fills the desktop's send buffer so that its next write can only time out.
void fill_send_buffer(SocketPair& pair) {
    pair.shrink_buffers();
    const int flags = ::fcntl(pair.near(), F_GETFL);
    ::fcntl(pair.near(), F_SETFL, flags | O_NONBLOCK);
    const std::vector<uint8_t> chunk(1024, 0);
    while (::send(pair.near(), chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0) {
    }
}

SessionHooks recording_hooks(const SessionSetup& setup, SessionOutcome& outcome) {
    SessionHooks hooks;
    hooks.on_report = [&setup, &outcome](nlohmann::json& report) {
        ++outcome.reports_published;
        if (setup.on_report) {
            setup.on_report(report);
        }
    };
    hooks.on_state = [&setup, &outcome](const std::string& state) {
        outcome.states.push_back(state);
        if (setup.on_state) {
            setup.on_state(state);
        }
    };
    hooks.on_status = [&outcome](const nlohmann::json&) { ++outcome.statuses; };
    hooks.stop_requested = setup.stop_requested;
    return hooks;
}

}  // namespace

std::vector<Message> SessionOutcome::received_of(Type type) const {
    std::vector<Message> found;
    for (const auto& message : peer_received) {
        if (message.type == type) {
            found.push_back(message);
        }
    }
    return found;
}

SessionOptions link_options() {
    SessionOptions options;
    options.device = "ios:00008030001a";
    options.hello_timeout_ms = 5000;
    return options;
}

std::function<void(ScriptedPeer&)> phone_script(PhoneBehaviour behaviour) {
    return [behaviour = std::move(behaviour)](ScriptedPeer& peer) { play_phone(peer, behaviour); };
}

SessionSetup phone_setup(PhoneBehaviour behaviour) {
    SessionSetup setup;
    setup.options = link_options();
    setup.script = phone_script(std::move(behaviour));
    return setup;
}

SessionOutcome run_against_peer(const SessionSetup& setup) {
    SessionOutcome outcome;
    SocketPair pair;
    if (setup.fill_desktop_send_buffer) {
        fill_send_buffer(pair);
    }
    write_all(pair.far(), setup.stale_bytes);
    auto link = std::make_unique<SocketTransport>();
    link->adopt(pair.release_near());

    ScriptedPeer peer(pair.far());
    std::thread peer_thread([&] {
        try {
            setup.script(peer);
        } catch (const PeerClosed&) {
        } catch (const std::exception& failure) {
            outcome.peer_error = failure.what();
        }
    });

    SessionOptions options = setup.options;
    options.transport = link.get();
    outcome.report = default_report();
    const SessionHooks hooks = recording_hooks(setup, outcome);
    const auto started = std::chrono::steady_clock::now();
    // On a thread of its own, as in the library: an audio session makes its thread realtime,
    // which must not stay with the test's main thread.
    std::thread session_thread([&] { outcome.code = run_session(options, outcome.report, hooks); });
    session_thread.join();
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    link.reset();
    peer_thread.join();
    peer.read_rest();
    outcome.peer_received = peer.received();
    outcome.peer_bytes_sent = peer.bytes_sent();
    return outcome;
}

}  // namespace kova::test

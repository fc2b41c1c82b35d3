#include "tests/session/emulator_runner.h"

#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>

#include "core/session/report.h"
#include "core/session/run_session.h"
#include "core/transport/socket_transport.h"
#include "tests/support/socket_pair.h"

namespace kova::test {

EmulatedSession run_against_emulator(SessionOptions options, phone::PhoneOptions phone_options,
                                     SessionHooks extra) {
    EmulatedSession session;
    SocketPair pair;
    auto link = std::make_unique<SocketTransport>();
    link->adopt(pair.release_near());
    // The emulator owns its descriptor; the pair's copy goes so that its close is seen.
    const int phone_fd = ::dup(pair.far());
    pair.close_far();

    phone::PhoneApp app(std::move(phone_options));
    auto served = std::async(std::launch::async, [&app, phone_fd] { return app.serve(phone_fd); });

    SessionHooks hooks = std::move(extra);
    auto observer = hooks.on_state;
    hooks.on_state = [&session, observer](const std::string& state) {
        session.states.push_back(state);
        if (observer) {
            observer(state);
        }
    };
    options.transport = link.get();
    session.report = default_report();
    const auto started = std::chrono::steady_clock::now();
    session.code = run_session(options, session.report, hooks);
    session.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    link.reset();
    session.phone = served.get();
    return session;
}

}  // namespace kova::test

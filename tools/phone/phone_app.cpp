#include "tools/phone/phone_app.h"

#include <unistd.h>

#include <utility>

#include "tools/phone/misbehaviour.h"
#include "tools/phone/phone_session.h"

namespace kova::phone {

PhoneApp::PhoneApp(PhoneOptions options) : options_(std::move(options)) {}

PhoneSummary PhoneApp::serve(int fd) {
    Misbehaviour misbehaviour;
    try {
        misbehaviour = misbehaviour_from_name(options_.misbehaviour);
    } catch (...) {
        ::close(fd);
        throw;
    }
    PhoneSession session(options_, misbehaviour, fd, stop_);
    return session.run();
}

void PhoneApp::stop() {
    stop_.store(true, std::memory_order_release);
}

const std::vector<std::string>& PhoneApp::misbehaviours() {
    return misbehaviour_names();
}

}  // namespace kova::phone

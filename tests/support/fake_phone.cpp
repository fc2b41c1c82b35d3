#include "tests/support/fake_phone.h"

#include <chrono>
#include <thread>

#include "core/protocol/codec.h"

namespace kova::test {
namespace {

using Clock = std::chrono::steady_clock;

struct PhoneState {
    std::string state = "Idle";
    Clock::time_point next_status = Clock::now();
};

nlohmann::json status_of(const PhoneState& phone, const PhoneBehaviour& behaviour) {
    nlohmann::json status = {{"state", phone.state}, {"occupancyMean", 960}, {"underruns", 0}};
    if (behaviour.route) {
        status["route"] = *behaviour.route;
    }
    return status;
}

void answer_ping(ScriptedPeer& peer, const Message& ping, const PhoneBehaviour& behaviour) {
    if (!behaviour.answer_pings) {
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(behaviour.pong_delay_ms));
    std::vector<uint8_t> token = ping.payload;
    if (behaviour.wrong_pong_token) {
        token[0] ^= 0xFF;
    }
    peer.send(Type::Pong, token);
}

void answer(ScriptedPeer& peer, const Message& message, const PhoneBehaviour& behaviour,
            PhoneState& phone) {
    switch (message.type) {
        case Type::Config:
            if (behaviour.ack) {
                peer.send_json(Type::ConfigAck, *behaviour.ack);
            }
            break;
        case Type::Start:
            phone.state = "Streaming";
            phone.next_status = Clock::now();
            break;
        case Type::Stop:
            phone.state = "Stopped";
            if (behaviour.send_stopped) {
                peer.send_json(Type::Status, status_of(phone, behaviour));
            }
            break;
        case Type::Ping:
            answer_ping(peer, message, behaviour);
            break;
        default:
            break;
    }
}

}  // namespace

void ignore_desktop(ScriptedPeer& peer) {
    for (;;) {
        (void)peer.receive(1000);
    }
}

void play_phone(ScriptedPeer& peer, const PhoneBehaviour& behaviour) {
    peer.expect(Type::Hello);
    peer.send_json(Type::Hello, behaviour.hello);
    PhoneState phone;
    for (;;) {
        if (Clock::now() >= phone.next_status && phone.state != "Stopped") {
            peer.send_json(Type::Status, status_of(phone, behaviour));
            phone.next_status =
                Clock::now() + std::chrono::milliseconds(behaviour.status_interval_ms);
        }
        const auto message = peer.receive(10);
        if (!message) {
            continue;
        }
        answer(peer, *message, behaviour, phone);
        if (behaviour.on_message) {
            behaviour.on_message(peer, *message);
        }
    }
}

}  // namespace kova::test

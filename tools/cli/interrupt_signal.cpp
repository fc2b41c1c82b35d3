#include "tools/cli/interrupt_signal.h"

#include <csignal>

#include <atomic>

namespace kova::cli {
namespace {

std::atomic<int> interrupts{0};

void count_interrupt(int) {
    interrupts.fetch_add(1);
}

}  // namespace

void install_interrupt_counter() {
    struct sigaction action {};
    action.sa_handler = count_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int interrupt_count() {
    return interrupts.load();
}

}  // namespace kova::cli

#include "tests/model/doubles/private_pulse.h"

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace kova::test {

namespace {

namespace fs = std::filesystem;

pid_t spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

PrivatePulse::PrivatePulse() {
    char pattern[] = "/tmp/kova-pulse-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return;
    }
    root_ = pattern;
    fs::create_directories(root_ / "runtime");
    fs::create_directories(root_ / "home");
    const fs::path socket = root_ / "native";
    server_ = "unix:" + socket.string();
    setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);
    setenv("HOME", (root_ / "home").c_str(), 1);
    pid_ = spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                  "--log-target=stderr", "--log-level=error",
                  "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket.string()});
    if (pid_ < 0) {
        return;
    }
    setenv("PULSE_SERVER", server_.c_str(), 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (fs::exists(socket) && pactl({"info"})) {
            running_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

PrivatePulse::~PrivatePulse() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitFor(pid_);
    }
    unsetenv("PULSE_SERVER");
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

bool PrivatePulse::pactl(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command{"pactl", "--server=" + server_};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const pid_t pid = spawn(command);
    return pid > 0 && waitFor(pid) == 0;
}

}  // namespace kova::test

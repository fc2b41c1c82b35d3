#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kova::test {

// kova-phone (KOVA_PHONE_EXE, which the including test defines) as a child whose standard
// output is read line by line. Header-only so that tests linking only libkova.so can use it.
class PhoneChild {
  public:
    explicit PhoneChild(std::vector<std::string> arguments) {
        int out[2];
        if (::pipe(out) != 0) {
            throw std::runtime_error("pipe failed");
        }
        arguments.insert(arguments.begin(), KOVA_PHONE_EXE);
        std::vector<char*> argv;  // built before fork: the child of a threaded process only execs
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~PhoneChild() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
    }
    // The next output line, or "" when none comes within a bound that stops a hung test.
    std::string line() {
        while (pending_.find('\n') == std::string::npos) {
            pollfd entry{out_, POLLIN, 0};
            char buffer[4096];
            ssize_t n = 0;
            if (::poll(&entry, 1, 20000) <= 0 || (n = ::read(out_, buffer, sizeof buffer)) <= 0) {
                return "";
            }
            pending_.append(buffer, static_cast<size_t>(n));
        }
        const size_t end = pending_.find('\n');
        std::string text = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return text;
    }
    // Throws away whatever output is waiting, so a long-running child never blocks on it.
    void discard_output() {
        pollfd entry{out_, POLLIN, 0};
        char buffer[4096];
        while (::poll(&entry, 1, 0) > 0 && ::read(out_, buffer, sizeof buffer) > 0) {
        }
    }
    // Sends `number` to the child.
    void signal(int number) {
        if (pid_ > 0) {
            ::kill(pid_, number);
        }
    }
    // The exit status, or -1 when the child is still running after the bound.
    int exit_status() {
        for (int attempt = 0; attempt < 1000; ++attempt) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

}  // namespace kova::test

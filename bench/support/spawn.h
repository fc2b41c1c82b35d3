#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <vector>

extern char** environ;

namespace kova::bench {

// Starts `arguments` with `actions` applied: arguments[0] is a path, or a name looked up in
// PATH when `search` is set. The child's id, or -1 when it could not be started.
inline pid_t spawn_child(std::vector<std::string> arguments,
                         const posix_spawn_file_actions_t& actions, bool search = false) {
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = search ? posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ)
                              : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    return failed != 0 ? -1 : pid;
}

}  // namespace kova::bench

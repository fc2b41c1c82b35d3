// The kova tool run as a process: exit codes, usage errors, JSON output.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/pulse_server.h"

namespace {

struct ProcessResult {
    int status = -1;
    std::string out;
};

// Runs `arguments` through the shell with usbmuxd pointed at a socket that does not exist, so
// the result does not depend on the machine. Standard error is folded into `out` when asked.
ProcessResult run_kova(const std::string& arguments, bool with_stderr = false) {
    const std::string command = "USBMUXD_SOCKET_ADDRESS=UNIX:/nonexistent/kova-test-usbmuxd " +
                                std::string(KOVA_CLI_EXE) + " " + arguments +
                                (with_stderr ? " 2>&1" : " 2>/dev/null");
    ProcessResult run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::vector<nlohmann::json> json_lines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

TEST(KovaTool, UsageErrorsExitTwoAndSayHowToListPhones) {
    for (const char* arguments :
         {"", "--signal sine --wav a.wav --device ios:0", "--loop --device ios:0",
          "--seconds 7201 --device ios:0", "--signal noise --device ios:0", "--no-such-flag"}) {
        const ProcessResult run = run_kova(arguments, true);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_NE(run.out.find("kova --list"), std::string::npos) << arguments << run.out;
    }
}

TEST(KovaTool, ListsNoPhonesAsAnEmptyJsonArray) {
    const ProcessResult run = run_kova("--list --json");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[]\n");
}

TEST(KovaTool, JsonModePrintsEveryEventAndExitsWithTheSessionCode) {
    const ProcessResult run = run_kova("--device ios:000000000000 --hello-timeout-ms 1000 --json");
    EXPECT_EQ(run.status, 1);
    const auto events = json_lines(run.out);
    ASSERT_FALSE(events.empty());
    const auto& ended = events.back();
    EXPECT_EQ(ended["event"], "ended");
    EXPECT_EQ(ended["code"], 1);
    EXPECT_EQ(ended["report"]["error"], "ios_device_not_found");
    EXPECT_EQ(events.front()["event"], "state");
}

TEST(KovaTool, HumanModePrintsTheFinalReportAsOneJsonLine) {
    const ProcessResult run = run_kova("--device ios:000000000000");
    EXPECT_EQ(run.status, 1);
    const auto lines = json_lines(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    EXPECT_EQ(lines[0]["result"], "error");
    EXPECT_EQ(lines[0]["platform"], "ios");
}

TEST(KovaTool, HumanSummaryExplainsTheErrorInPlainWords) {
    const ProcessResult run = run_kova("--device ios:000000000000", true);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("error: ios_device_not_found"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("not found: reconnect it, unlock it and tap Trust."), std::string::npos)
        << run.out;
}

TEST(KovaTool, ProbeOfAnUnreachablePhoneFails) {
    const ProcessResult run = run_kova("--probe ios:000000000000 --json");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(nlohmann::json::parse(run.out)["probe"], -1);
}

TEST(KovaTool, InstallsAndRemovesTheKovaDeviceOnTheRunningServer) {
    kova::test::PulseServer server(0);
    ASSERT_TRUE(server.ready()) << server.log();
    ProcessResult run = run_kova("--install-device --rate 44100 --json");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(nlohmann::json::parse(run.out)["ok"], true);
    run = run_kova("--install-device", true);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("already installed"), std::string::npos) << run.out;

    // A session then finds the device at its rate before it looks for the phone.
    run = run_kova("--device ios:000000000000 --kova-device --json");
    EXPECT_EQ(json_lines(run.out).back()["report"]["error"], "ios_device_not_found");

    run = run_kova("--remove-device --json");
    EXPECT_EQ(run.status, 0);
    run = run_kova("--remove-device --json");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(nlohmann::json::parse(run.out)["error"], "kova_device_not_found");
    EXPECT_EQ(run_kova("--install-device --rate 7999", true).status, 2);
}

}  // namespace

namespace {

TEST(KovaTool, DoctorNamesEachMissingPieceWithItsFix) {
    // No server: PULSE_SERVER names one that is not there, whatever the machine runs.
    const char* previous = getenv("PULSE_SERVER");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/kova-test-pulse", 1);
    const ProcessResult run = run_kova("--doctor --json");
    if (previous != nullptr) {
        setenv("PULSE_SERVER", saved.c_str(), 1);
    } else {
        unsetenv("PULSE_SERVER");
    }
    EXPECT_EQ(run.status, 1);
    const auto document = nlohmann::json::parse(run.out);
    EXPECT_FALSE(document["ok"].get<bool>());
    std::map<std::string, nlohmann::json> by_check;
    for (const auto& check : document["checks"]) {
        by_check.emplace(check["check"].get<std::string>(), check);
    }
    for (const char* key : {"sound_server", "kova_device", "usbmuxd"}) {
        ASSERT_TRUE(by_check.count(key)) << key << run.out;
        EXPECT_NE(by_check[key]["verdict"], "ok") << key;
        EXPECT_FALSE(by_check[key].value("fix", "").empty()) << key;
    }

    kova::test::PulseServer server(48000);
    ASSERT_TRUE(server.ready()) << server.log();
    const ProcessResult text = run_kova("--doctor");
    EXPECT_NE(text.out.find("ok       KOVA device: present at 48000 Hz"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("warning  usbmuxd"), std::string::npos) << text.out;
}

}  // namespace

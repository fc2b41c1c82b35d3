// kova --doctor: the verdicts drawn from the facts, and the facts read from a real system.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "tests/support/pulse_server.h"
#include "tests/support/temp_dir.h"
#include "tools/cli/doctor.h"
#include "tools/cli/doctor_probes.h"

namespace {

using kova::cli::DoctorCheck;
using kova::cli::DoctorFacts;
using kova::cli::PhoneFacts;
using kova::cli::Verdict;

const DoctorCheck* find(const std::vector<DoctorCheck>& checks, const std::string& key,
                        size_t nth = 0) {
    for (const DoctorCheck& check : checks) {
        if (check.check == key && nth-- == 0) {
            return &check;
        }
    }
    return nullptr;
}

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Diagnose : public ::testing::Test {
  protected:
    Diagnose() {
        facts.server_reachable = true;
        facts.server_name = "pulseaudio";
        facts.server_version = "16.1";
        facts.sink_present = true;
        facts.sink_rate = 48000;
        facts.sink_peak = 0.5f;
        facts.usbmuxd_address = "/var/run/usbmuxd";
        facts.usbmuxd_reachable = true;
        facts.udev_rules = "/usr/lib/udev/rules.d/70-kova-connect.rules";
        PhoneFacts phone;
        phone.path = "1:2";
        phone.platform = "android";
        phone.name = "18d1:2d00";
        phone.accessory = true;
        phone.node = "/dev/bus/usb/001/004";
        phone.may_open = true;
        facts.phones = {phone};
        facts.realtime_allowed = true;
    }

    const DoctorCheck& check(const std::string& key, size_t nth = 0) {
        checks = kova::cli::diagnose(facts);
        const DoctorCheck* found = find(checks, key, nth);
        if (found == nullptr) {
            static const DoctorCheck none{"absent", "", Verdict::missing, "", ""};
            ADD_FAILURE() << "no check " << key;
            return none;
        }
        return *found;
    }

    int status() { return kova::cli::doctor_exit_status(kova::cli::diagnose(facts)); }

    DoctorFacts facts;
    std::vector<DoctorCheck> checks;
};

TEST_F(Diagnose, AReadySetUpPassesEveryCheckWithoutAFix) {
    checks = kova::cli::diagnose(facts);
    EXPECT_EQ(checks.size(), 7u);
    for (const DoctorCheck& each : checks) {
        EXPECT_EQ(each.verdict, Verdict::ok) << each.check << ": " << each.detail;
        EXPECT_TRUE(each.fix.empty()) << each.check;
    }
    EXPECT_EQ(kova::cli::doctor_exit_status(checks), 0);
    EXPECT_TRUE(mentions(check("sound_server").detail, "pulseaudio 16.1"));
    EXPECT_TRUE(mentions(check("kova_device").detail, "no conversion"));
}

TEST_F(Diagnose, NoServerIsMissingAndNamesBothServersOrThePulseServerVariable) {
    facts.server_reachable = false;
    EXPECT_EQ(check("sound_server").verdict, Verdict::missing);
    EXPECT_TRUE(mentions(check("sound_server").fix, "pipewire-pulse"));
    EXPECT_TRUE(mentions(check("sound_server").fix, "pulseaudio --start"));
    EXPECT_EQ(check("kova_device").verdict, Verdict::missing);
    EXPECT_EQ(find(checks, "kova_level"), nullptr);
    EXPECT_EQ(status(), 1);
    facts.pulse_server = "unix:/elsewhere";
    EXPECT_TRUE(mentions(check("sound_server").fix, "PULSE_SERVER"));
    EXPECT_TRUE(mentions(check("sound_server").detail, "unix:/elsewhere"));
}

TEST_F(Diagnose, AMissingSinkIsFixedByInstallingTheDevice) {
    facts.sink_present = false;
    EXPECT_EQ(check("kova_device").verdict, Verdict::missing);
    EXPECT_TRUE(mentions(check("kova_device").fix, "kova --install-device"));
    EXPECT_EQ(status(), 1);
}

TEST_F(Diagnose, OtherRatesWorkButAreConverted) {
    facts.sink_rate = 44100;
    EXPECT_EQ(check("kova_device").verdict, Verdict::ok);
    EXPECT_TRUE(mentions(check("kova_device").detail, "44100 Hz, converted"));
}

TEST_F(Diagnose, SilenceAndAnUnreadableLevelOnlyWarn) {
    facts.sink_peak = 0.0f;
    EXPECT_EQ(check("kova_level").verdict, Verdict::warning);
    EXPECT_TRUE(mentions(check("kova_level").fix, "set-default-sink com.brenvale.kova.device"));
    EXPECT_EQ(status(), 0);
    facts.sink_peak.reset();
    EXPECT_EQ(check("kova_level").verdict, Verdict::warning);
    facts.sink_peak = 0.1f;
    EXPECT_TRUE(mentions(check("kova_level").detail, "-20.0 dBFS"));
}

TEST_F(Diagnose, DaemonRulesAndRealtimeOnlyWarnWithTheirFixes) {
    facts.usbmuxd_reachable = false;
    facts.udev_rules.clear();
    facts.realtime_allowed = false;
    EXPECT_EQ(check("usbmuxd").verdict, Verdict::warning);
    EXPECT_TRUE(mentions(check("usbmuxd").fix, "systemctl start usbmuxd"));
    EXPECT_EQ(check("udev_rules").verdict, Verdict::warning);
    EXPECT_TRUE(mentions(check("udev_rules").fix, "udevadm control --reload"));
    EXPECT_EQ(check("realtime").verdict, Verdict::warning);
    EXPECT_TRUE(mentions(check("realtime").fix, "rtprio"));
    EXPECT_EQ(status(), 0);
}

TEST_F(Diagnose, APhoneWhoseNodeCannotBeOpenedIsMissingUnlessAnotherIsReady) {
    facts.phones[0].may_open = false;
    EXPECT_EQ(check("phone").verdict, Verdict::missing);
    EXPECT_TRUE(mentions(check("phone").detail, "/dev/bus/usb/001/004"));
    EXPECT_TRUE(mentions(check("phone").fix, "replug"));
    EXPECT_FALSE(mentions(check("phone").fix, "udevadm"));
    EXPECT_EQ(status(), 1);
    facts.udev_rules.clear();
    EXPECT_TRUE(mentions(check("phone").fix, "udevadm"));

    PhoneFacts iphone;
    iphone.path = "ios:00008101000a";
    iphone.platform = "ios";
    iphone.name = "00008101-000A";
    iphone.trusted = true;
    iphone.app_listening = true;
    facts.phones.push_back(iphone);
    EXPECT_EQ(check("phone", 0).verdict, Verdict::warning);
    EXPECT_EQ(check("phone", 1).verdict, Verdict::ok);
    EXPECT_EQ(status(), 0);
}

TEST_F(Diagnose, EachPhoneSaysWhatItNeedsNext) {
    facts.phones[0].accessory = false;
    EXPECT_EQ(check("phone").verdict, Verdict::ok);
    EXPECT_TRUE(mentions(check("phone").detail, "accessory mode when streaming starts"));

    facts.phones[0].platform = "ios";
    facts.phones[0].trusted = false;
    EXPECT_EQ(check("phone").verdict, Verdict::missing);
    EXPECT_TRUE(mentions(check("phone").fix, "tap Trust"));
    facts.phones[0].trusted = true;
    facts.phones[0].app_listening = false;
    EXPECT_TRUE(mentions(check("phone").fix, "open the KOVA app"));

    facts.phones.clear();
    EXPECT_EQ(check("phone").verdict, Verdict::missing);
    EXPECT_TRUE(mentions(check("phone").fix, "connect the phone"));
}

TEST_F(Diagnose, TextAndJsonCarryTheSameChecks) {
    facts.sink_present = false;
    facts.usbmuxd_reachable = false;
    checks = kova::cli::diagnose(facts);
    const std::string text = kova::cli::doctor_text(checks);
    const nlohmann::json document = kova::cli::doctor_json(checks);
    EXPECT_FALSE(document["ok"].get<bool>());
    ASSERT_EQ(document["checks"].size(), checks.size());
    for (size_t i = 0; i < checks.size(); ++i) {
        const nlohmann::json& entry = document["checks"][i];
        EXPECT_EQ(entry["check"], checks[i].check);
        EXPECT_EQ(entry["verdict"], kova::cli::verdict_name(checks[i].verdict));
        EXPECT_EQ(entry.contains("fix"), !checks[i].fix.empty());
        EXPECT_TRUE(mentions(text, checks[i].title + ": " + checks[i].detail));
        if (!checks[i].fix.empty()) {
            EXPECT_TRUE(mentions(text, "fix: " + checks[i].fix));
        }
    }
    EXPECT_TRUE(mentions(text, "\nmissing  KOVA device: "));
    EXPECT_TRUE(mentions(text, "Something needed for streaming is missing."));
}

// Device nodes, checked on ordinary files with the modes and owners a node can have.
class NodeAccess : public ::testing::Test {
  protected:
    std::string file(const char* name, mode_t mode) {
        const std::string path = directory.write(name, {1});
        ::chmod(path.c_str(), mode);
        return path;
    }

    kova::test::TempDir directory;
    const kova::cli::Identity nobody{65534, 65534, {}};
};

TEST_F(NodeAccess, PermissionBitsDecideForAnotherUser) {
    EXPECT_FALSE(kova::cli::may_open(file("none", 0000), nobody));
    EXPECT_TRUE(kova::cli::may_open(file("all", 0666), nobody));
    EXPECT_FALSE(kova::cli::may_open(file("read", 0644), nobody));
    EXPECT_FALSE(kova::cli::may_open(directory.path() + "/absent", nobody));
    EXPECT_TRUE(kova::cli::may_open(file("root", 0000), kova::cli::Identity{0, 0, {}}));
}

TEST_F(NodeAccess, OwnerAndGroupBitsApplyToTheirOwnersOnly) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "giving a file away needs root";
    }
    const std::string node = file("node", 0660);
    ASSERT_EQ(::chown(node.c_str(), 4000, 4001), 0);
    EXPECT_FALSE(kova::cli::may_open(node, nobody));
    EXPECT_TRUE(kova::cli::may_open(node, kova::cli::Identity{65534, 65534, {4001}}));
    EXPECT_TRUE(kova::cli::may_open(node, kova::cli::Identity{4000, 65534, {}}));
    ::chmod(node.c_str(), 0600);
    EXPECT_FALSE(kova::cli::may_open(node, kova::cli::Identity{65534, 4001, {}}));
}

TEST_F(NodeAccess, ThisProcessIsAskedOfTheKernel) {
    const auto self = kova::cli::Identity::effective();
    EXPECT_TRUE(kova::cli::may_open(file("mine", 0600), self));
    if (self.uid != 0) {
        EXPECT_FALSE(kova::cli::may_open(file("locked", 0000), self));
    }
}

TEST_F(NodeAccess, AnAttachedPhoneWithoutAccessIsReportedMissing) {
    kova::cli::DoctorSources sources;
    sources.who = nobody;
    sources.rules_dirs = {directory.path()};
    sources.level_window = std::chrono::milliseconds(100);
    const std::string node = file("004", 0000);
    sources.phones = [node] {
        PhoneFacts phone;
        phone.path = "1:4";
        phone.platform = "android";
        phone.node = node;
        return std::vector<PhoneFacts>{phone};
    };
    const auto checks = kova::cli::diagnose(kova::cli::gather_facts(sources));
    const DoctorCheck* phone = find(checks, "phone");
    ASSERT_NE(phone, nullptr);
    EXPECT_EQ(phone->verdict, Verdict::missing);
    EXPECT_TRUE(mentions(phone->detail, node));
    EXPECT_EQ(find(checks, "udev_rules")->verdict, Verdict::warning);
    EXPECT_EQ(find(checks, "realtime")->verdict, Verdict::warning);

    std::ofstream(directory.path() + "/70-kova-connect.rules") << "# rules\n";
    EXPECT_EQ(kova::cli::find_udev_rules({directory.path() + "/none", directory.path()}),
              directory.path() + "/70-kova-connect.rules");
}

// The sound server and usbmuxd, for real.
class SystemFacts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* address = std::getenv("USBMUXD_SOCKET_ADDRESS")) {
            saved_ = address;
        }
    }
    void TearDown() override {
        if (saved_) {
            setenv("USBMUXD_SOCKET_ADDRESS", saved_->c_str(), 1);
        } else {
            unsetenv("USBMUXD_SOCKET_ADDRESS");
        }
    }

    DoctorFacts sound() {
        DoctorFacts facts;
        kova::cli::read_sound_facts(facts, std::chrono::milliseconds(300));
        return facts;
    }

    std::optional<std::string> saved_;
};

TEST_F(SystemFacts, NoServerIsUnreachable) {
    kova::test::TempDir directory;
    const std::string address = "unix:" + directory.path() + "/none";
    setenv("PULSE_SERVER", address.c_str(), 1);
    const DoctorFacts facts = sound();
    unsetenv("PULSE_SERVER");
    EXPECT_FALSE(facts.server_reachable);
    EXPECT_EQ(facts.pulse_server, address);
}

TEST_F(SystemFacts, AServerWithoutTheSinkAnswersWithItsName) {
    kova::test::PulseServer server(0);
    ASSERT_TRUE(server.ready()) << server.log();
    const DoctorFacts facts = sound();
    EXPECT_TRUE(facts.server_reachable);
    EXPECT_FALSE(facts.server_name.empty());
    EXPECT_FALSE(facts.server_version.empty());
    EXPECT_FALSE(facts.sink_present);
}

TEST_F(SystemFacts, TheLevelIsWhatPlaysIntoTheSink) {
    kova::test::PulseServer server(44100);
    ASSERT_TRUE(server.ready()) << server.log();
    DoctorFacts facts = sound();
    ASSERT_TRUE(facts.sink_present);
    EXPECT_EQ(facts.sink_rate, 44100u);
    ASSERT_TRUE(facts.sink_peak.has_value());
    EXPECT_LT(*facts.sink_peak, 1e-4f);

    kova::test::SinkPlayer player(44100);
    ASSERT_TRUE(player.open());
    const auto tone = kova::test::stereo_sine(440.0, 44100, 44100 / 10, 0.5f);
    std::atomic<bool> playing{true};
    std::thread feeder([&] {
        while (playing && player.write(tone)) {
        }
    });
    facts = sound();
    playing = false;
    feeder.join();
    ASSERT_TRUE(facts.sink_peak.has_value());
    EXPECT_GT(*facts.sink_peak, 0.4f);
    EXPECT_LT(*facts.sink_peak, 0.55f);
}

TEST_F(SystemFacts, UsbmuxdAnswersOnlyWhereSomethingListens) {
    kova::test::TempDir directory;
    const std::string path = directory.path() + "/usbmuxd";
    setenv("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + path).c_str(), 1);
    std::string address;
    EXPECT_FALSE(kova::cli::usbmuxd_answers(address));
    EXPECT_EQ(address, path);

    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un unix_address{};
    unix_address.sun_family = AF_UNIX;
    std::strncpy(unix_address.sun_path, path.c_str(), sizeof unix_address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&unix_address), sizeof unix_address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    EXPECT_TRUE(kova::cli::usbmuxd_answers(address));
    close(listener);
    EXPECT_FALSE(kova::cli::usbmuxd_answers(address));
}

}  // namespace

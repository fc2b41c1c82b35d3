#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "app/model/platform/xdg_login_item.h"
#include "tests/model/doubles/model_rig.h"
#include "tests/support/temp_dir.h"

namespace kova::test {
namespace {

namespace fs = std::filesystem;

class LaunchAtLogin : public ModelRig {};

TEST_F(LaunchAtLogin, FirstLaunchRegistersOnceAndAFailedSwitchShowsTheSystemText) {
    make();
    EXPECT_EQ(loginItem->setCalls, 1);
    EXPECT_TRUE(model->launchAtLogin());
    EXPECT_EQ(stored<bool>("loginItemConfigured"), true);

    model->setLaunchAtLogin(false);
    EXPECT_FALSE(model->launchAtLogin());
    loginItem->failure = "Cannot create /x/autostart: Not a directory";
    model->setLaunchAtLogin(true);
    EXPECT_EQ(model->errorText(),
              "Could not set login item: Cannot create /x/autostart: Not a directory");
    EXPECT_FALSE(model->launchAtLogin());

    const int calls = loginItem->setCalls;
    model.reset();
    make();  // the second launch does not override the user
    EXPECT_EQ(loginItem->setCalls, calls);
    EXPECT_FALSE(model->launchAtLogin());
}

TEST_F(LaunchAtLogin, ApprovalHintAppearsWhenAskedAndAFirstLaunchFailureIsSilent) {
    loginItem->approval = true;
    make();
    EXPECT_EQ(model->errorText(),
              "Approve KOVA Connect in System Settings › General › Login Items.");

    model.reset();
    settings->values.clear();
    loginItem = std::make_shared<FakeLoginItem>();
    loginItem->failure = "Permission denied";
    make();
    EXPECT_EQ(model->errorText(), std::nullopt);
    EXPECT_FALSE(model->launchAtLogin());
    EXPECT_EQ(stored<bool>("loginItemConfigured"), true);
}
// The real autostart file, under a private XDG_CONFIG_HOME.
class XdgAutostart : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* previous = std::getenv("XDG_CONFIG_HOME")) {
            previous_ = previous;
        }
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    }
    void TearDown() override {
        previous_ ? setenv("XDG_CONFIG_HOME", previous_->c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    }
    static std::string read(const fs::path& file) {
        std::ifstream in(file);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    TempDir dir_;
    const fs::path root_ = dir_.path();
    std::optional<std::string> previous_;
};

TEST_F(XdgAutostart, SwitchingOnCreatesTheFolderAndTheEntryAndOffRemovesIt) {
    XdgLoginItem item("/opt/kova/bin/kova-connect");
    const fs::path expected = root_ / "config/autostart/com.brenvale.kova.connect.desktop";
    EXPECT_EQ(item.file(), expected);
    EXPECT_FALSE(item.isEnabled());
    item.set(true);
    EXPECT_TRUE(item.isEnabled());
    const std::string text = read(expected);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nName=KOVA Connect\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=/opt/kova/bin/kova-connect\n"), std::string::npos);
    EXPECT_EQ(
        std::distance(fs::directory_iterator(expected.parent_path()), fs::directory_iterator()),
        1);  // no partial file left beside it

    item.set(false);
    EXPECT_FALSE(item.isEnabled());
    EXPECT_NO_THROW(item.set(false));
    EXPECT_TRUE(fs::is_directory(root_ / "config/autostart"));
}

TEST_F(XdgAutostart, PathsWithReservedCharactersAreQuoted) {
    XdgLoginItem item("/home/a b/100%/kova-connect");
    EXPECT_NE(item.entryText().find("\nExec=\"/home/a b/100%%/kova-connect\"\n"), std::string::npos)
        << item.entryText();
}

TEST_F(XdgAutostart, RelativeConfigHomeFallsBackToTheHomeFolder) {
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(XdgLoginItem::autostartFile(),
              fs::path(home) / ".config/autostart/com.brenvale.kova.connect.desktop");
}

TEST_F(XdgAutostart, ModelOnTheRealItemRegistersAtFirstLaunchAndReportsFailures) {
    ModelParts rig;
    const auto item = std::make_shared<XdgLoginItem>("/usr/bin/kova-connect");
    rig.loginPort = item;
    rig.make();
    EXPECT_TRUE(rig.model->launchAtLogin());
    EXPECT_TRUE(fs::exists(root_ / "config/autostart/com.brenvale.kova.connect.desktop"));
    rig.model->setLaunchAtLogin(false);
    EXPECT_FALSE(rig.model->launchAtLogin());
    EXPECT_EQ(rig.model->errorText(), std::nullopt);

    fs::remove_all(root_ / "config");
    std::ofstream(root_ / "config") << "a file where the folder should be";
    try {
        item->set(true);
        ADD_FAILURE() << "set(true) did not throw";
    } catch (const std::runtime_error& failure) {
        EXPECT_NE(std::string(failure.what()).find("Not a directory"), std::string::npos)
            << failure.what();
    }
    EXPECT_FALSE(item->isEnabled());
    rig.model->setLaunchAtLogin(true);
    EXPECT_FALSE(rig.model->launchAtLogin());
    ASSERT_TRUE(rig.model->errorText());
    EXPECT_EQ(rig.model->errorText()->rfind("Could not set login item: Cannot create ", 0), 0u)
        << *rig.model->errorText();
}

}  // namespace
}  // namespace kova::test

// Settings of the wrong kinds or absurd sizes and a huge device list: defaults or plain
// refusals, never a crash.
#include <nlohmann/json.hpp>
#include <regex>

#include "tests/model/doubles/model_rig.h"

namespace kova::test {
namespace {

using nlohmann::json;

class HostileInput : public ModelRig {};

TEST_F(HostileInput, SettingsOfTheWrongKindReadAsTheirDefaults) {
    settings->values["autoStart"] = std::vector<std::string>{"true"};
    settings->values["pairedPhones"] = true;
    settings->values["devicePath"] = std::vector<std::string>{"1:1"};
    settings->values["accessoryId"] = false;
    library->setPhones(
        {androidPhone("1:1", "Nova", "One", "s1"), androidPhone("1:2", "Nova", "Two", "s2")});
    makeSettled();
    EXPECT_TRUE(model->autoStart());
    EXPECT_FALSE(model->device("1:1")->paired);
    EXPECT_EQ(model->selectedPath(), std::nullopt);
    EXPECT_TRUE(std::regex_match(model->accessoryId(), std::regex("kova-connect-[0-9a-f]{8}")));
}

TEST_F(HostileInput, HugeStoredValuesAreUsedOrIgnoredAsAnyOther) {
    std::vector<std::string> paired(100000, std::string(64, 'f'));
    OpenSslSha256 sha256;
    paired.push_back(serialHashOf("s1", sha256));
    settings->values["pairedPhones"] = paired;
    settings->values["devicePath"] = std::string(1 << 20, '1');
    settings->values["autoStart"] = false;
    library->setPhones(
        {androidPhone("1:1", "Nova", "One", "s1"), androidPhone("1:2", "Nova", "Two", "s2")});
    makeSettled();
    EXPECT_TRUE(model->device("1:1")->paired);
    EXPECT_EQ(model->selectedPath(), "1:1");  // the lone candidate, not the unlisted path
}

TEST_F(HostileInput, DeviceListOfAHundredThousandEntriesIsRead) {
    std::vector<json> phones;
    for (int i = 0; i < 100000; ++i) {
        phones.push_back(androidPhone("1:" + std::to_string(i), "Nova", "One",
                                      i % 2 ? "s" + std::to_string(i) : ""));
    }
    phones.push_back(json{{"path", 7}});  // malformed entries are skipped, not fatal
    library->setPhones(phones);
    settings->values["autoStart"] = false;
    makeSettled();
    EXPECT_EQ(model->devices().size(), 100000u);
    EXPECT_EQ(model->selectedPath(), std::nullopt);
    model->pair("1:99999");
    EXPECT_TRUE(model->device("1:99999")->paired);
}

}  // namespace
}  // namespace kova::test

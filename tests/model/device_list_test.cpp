#include <nlohmann/json.hpp>

#include "tests/model/doubles/model_rig.h"

namespace kova::test {
namespace {

using nlohmann::json;

// Two standard SHA-256 test vectors, used as phone serials.
constexpr const char* serialA = "abc";
constexpr const char* hashA = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* serialB = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
constexpr const char* hashB = "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";

class DeviceList : public ModelRig {
  protected:
    void pairBoth() { settings->values["pairedPhones"] = std::vector<std::string>{hashA, hashB}; }
    std::vector<std::string> paths() const {
        std::vector<std::string> result;
        for (const auto& entry : model->devices()) {
            result.push_back(entry.path);
        }
        return result;
    }
};

TEST_F(DeviceList, CandidatesComeFirstInDocumentOrderAndALoneOneGetsSelected) {
    library->setPhones({androidPhone("1:1", "Acme", "Phone", "s1"),
                        androidPhone("1:2", "Nova", "One", "s2", true)});
    make();
    EXPECT_EQ(paths(), (std::vector<std::string>{"1:2", "1:1"}));
    EXPECT_EQ(model->selectedPath(), "1:2");
    EXPECT_EQ(stored<std::string>("devicePath"), "1:2");

    // Candidates come first and each group keeps the document order.
    library->setPhones({androidPhone("1:1", "Acme", "Keyboard", "k1"),
                        androidPhone("1:2", "Nova", "One", "n1", true),
                        androidPhone("1:3", "Acme", "Mouse", "m1"),
                        iPhone("ios:00008030001a", "iPhone 15", "udid")});
    model->refresh();
    EXPECT_EQ(paths(), (std::vector<std::string>{"1:2", "ios:00008030001a", "1:1", "1:3"}));
}

TEST_F(DeviceList, SelectionIsRememberedKeptWhileListedAndFallsBackWhenThePhoneLeaves) {
    pairBoth();
    library->setPhones({androidPhone("1:1", "Acme", "Phone", serialA),
                        androidPhone("1:2", "Nova", "One", serialB)});
    make();
    EXPECT_EQ(model->selectedPath(), std::nullopt);  // two paired phones: no lone candidate
    model->setSelectedPath("1:2");
    EXPECT_EQ(stored<std::string>("devicePath"), "1:2");
    model.reset();
    make();
    EXPECT_EQ(model->selectedPath(), "1:2");

    model->setSelectedPath("1:1");
    model->refresh();
    EXPECT_EQ(model->selectedPath(), "1:1");
    library->setPhones({androidPhone("1:2", "Nova", "One", serialB)});
    model->refresh();
    EXPECT_EQ(model->selectedPath(), "1:2");
    library->setPhones({});
    model->refresh();
    EXPECT_EQ(model->selectedPath(), std::nullopt);
    EXPECT_FALSE(settings->values.contains("devicePath"));
}

TEST_F(DeviceList, NamesLabelsAndWaitingTextsFollowTheEntryRules) {
    json bare = androidPhone("1:1", "", "", "");
    bare["vendor"] = 0x1234;
    bare["product"] = 0xABCD;
    json unnamedIos = iPhone("ios:0000000000aa", "", "u");
    unnamedIos.erase("productName");
    json noTrustKey = iPhone("ios:0000000000cc", "iPhone", "w");
    noTrustKey.erase("trusted");
    settings->values["pairedPhones"] = std::vector<std::string>{hashA};
    library->setPhones({bare, androidPhone("1:2", "Acme", "", ""),
                        androidPhone("1:3", "Nova", "One", serialA),
                        androidPhone("1:4", "Nova", "Two", serialA, true),
                        androidPhone("1:5", "Acme", "Three", "other"), unnamedIos,
                        iPhone("ios:0000000000bb", "iPad", "v", false), noTrustKey});
    make();
    EXPECT_EQ(model->device("1:1")->name, "1234:abcd");
    EXPECT_EQ(model->device("1:2")->name, "Acme");
    EXPECT_EQ(model->device("1:3")->label(), "Nova One · paired");
    EXPECT_EQ(model->device("1:4")->label(), "Nova Two · ready for KOVA");
    EXPECT_EQ(model->device("1:5")->label(), "Acme Three");
    EXPECT_EQ(model->device("ios:0000000000aa")->name, "iPhone or iPad");
    EXPECT_EQ(model->device("ios:0000000000aa")->label(), "iPhone or iPad (iOS)");
    // An iOS entry never takes the vendor name.
    EXPECT_EQ(model->device("ios:0000000000bb")->name, "iPad");
    EXPECT_EQ(model->device("ios:0000000000bb")->waitingText(),
              "On the iPad, tap Trust for this computer");
    EXPECT_TRUE(model->device("ios:0000000000cc")->trusted);
    EXPECT_EQ(model->device("ios:0000000000cc")->waitingText(), "Unlock the iPhone and open KOVA");
}

TEST_F(DeviceList, SerialIsHashedAndMissingOrWrongFlagsTakeDefaults) {
    json entry = androidPhone("1:1", "Nova", "One", serialA);
    entry["accessory"] = "yes";
    entry["trusted"] = 1;
    library->setPhones({entry, androidPhone("1:2", "Nova", "Two", "")});
    make();
    const auto first = *model->device("1:1");
    EXPECT_EQ(first.serialHash, hashA);
    EXPECT_FALSE(first.accessory);
    EXPECT_TRUE(first.trusted);
    EXPECT_EQ(model->device("1:2")->serialHash, std::nullopt);
    EXPECT_EQ(model->hash(serialB), hashB);
}

TEST_F(DeviceList, AudioDeviceComesFromTheLibraryAndANullListKeepsListAndSelection) {
    library->setPhones({androidPhone("1:2", "Nova", "One", "s", true)});
    library->sampleRate = 44100.0;
    make();
    EXPECT_TRUE(model->kovaDevicePresent());
    EXPECT_EQ(model->kovaSampleRate(), 44100.0);
    library->listText.reset();
    library->present = false;
    library->sampleRate = 0.0;
    model->refresh();
    EXPECT_EQ(model->devices().size(), 1u);
    EXPECT_EQ(model->selectedPath(), "1:2");
    EXPECT_FALSE(model->kovaDevicePresent());
    EXPECT_EQ(model->kovaSampleRate(), std::nullopt);
    library->present = true;
    library->sampleRate = -1.0;
    model->refresh();
    EXPECT_EQ(model->kovaSampleRate(), std::nullopt);
}

TEST_F(DeviceList, HubsAndMalformedEntriesAreLeftOutAndABrokenListReadsAsEmpty) {
    json hub = androidPhone("1:1", "Acme", "Hub", "h");
    hub["hub"] = true;
    json noPath = androidPhone("1:2", "Acme", "A", "a");
    noPath.erase("path");
    json textVendor = androidPhone("1:3", "Acme", "B", "b");
    textVendor["vendor"] = "18d1";
    json noProduct = androidPhone("1:4", "Acme", "C", "c");
    noProduct.erase("product");
    library->setPhones({hub, noPath, textVendor, noProduct, androidPhone("1:5", "Nova", "", "")});
    make();
    EXPECT_EQ(paths(), (std::vector<std::string>{"1:5"}));

    // An unparseable or mixed list reads as empty and clears the selection.
    for (const char* text : {"[{\"path\":", "{\"path\":\"1:2\"}", "[{\"path\":\"1:2\"},3]"}) {
        library->setPhones({androidPhone("1:2", "Nova", "One", "s", true)});
        model->refresh();
        ASSERT_EQ(model->selectedPath(), "1:2");
        library->listText = text;
        model->refresh();
        EXPECT_TRUE(model->devices().empty()) << text;
        EXPECT_EQ(model->selectedPath(), std::nullopt) << text;
        EXPECT_FALSE(settings->values.contains("devicePath")) << text;
    }
    // Every listed text went back to the library.
    EXPECT_EQ(library->textsFreed, library->listCalls);
}

class Pairing : public ModelRig {};

TEST_F(Pairing, ReadyStatePairsThePhoneOnceByTheHashOfItsSerial) {
    library->setPhones({androidPhone("1:1", "Nova", "One", serialA)});
    make();
    model->setSelectedPath("1:1");
    model->start();
    event(stateEvent("Ready"));
    EXPECT_EQ(stored<std::vector<std::string>>("pairedPhones"), std::vector<std::string>{hashA});
    EXPECT_TRUE(model->device("1:1")->paired);
    EXPECT_EQ(model->device("1:1")->label(), "Nova One · paired");

    const int listsBefore = library->listCalls;
    event(stateEvent("Ready"));
    EXPECT_EQ(library->listCalls, listsBefore);  // already paired: no refresh
    EXPECT_EQ(stored<std::vector<std::string>>("pairedPhones"), std::vector<std::string>{hashA});
}

TEST_F(Pairing, KeepsEarlierPhonesAndNeverStoresTheSerial) {
    settings->values["pairedPhones"] = std::vector<std::string>{hashB};
    library->setPhones({androidPhone("1:1", "Nova", "One", serialA)});
    make();
    model->pair("1:1");
    auto paired = *stored<std::vector<std::string>>("pairedPhones");
    std::sort(paired.begin(), paired.end());
    EXPECT_EQ(paired, (std::vector<std::string>{hashB, hashA}));
    for (const auto& [key, value] : settings->values) {
        if (const auto* text = std::get_if<std::string>(&value)) {
            EXPECT_NE(*text, serialA) << key;
        }
    }
}

TEST_F(Pairing, MistypedStoredSetCountsAsEmptyAndNoSerialOrUnknownPathIsEverPaired) {
    settings->values["pairedPhones"] = std::string(hashA);
    library->setPhones(
        {androidPhone("1:1", "Nova", "One", serialA), androidPhone("1:2", "Nova", "Two", "")});
    make();
    EXPECT_FALSE(model->device("1:1")->paired);
    model->pair("1:2");
    model->pair("9:9");
    EXPECT_EQ(stored<std::string>("pairedPhones"), hashA);  // nothing written
    model->pair("1:1");
    EXPECT_EQ(stored<std::vector<std::string>>("pairedPhones"), std::vector<std::string>{hashA});
}
}  // namespace
}  // namespace kova::test

// The device list: registry records, matching, name preferences, walks that fail on their
// own, and the exact JSON text of both entry kinds.

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/transport/device_listing.h"

namespace kova {
namespace {

using Values = std::map<std::string, std::string>;

RegistryLookup lookup_in(const Values& values) {
    return [&values](const char* key) -> const char* {
        const auto it = values.find(key);
        return it == values.end() ? nullptr : it->second.c_str();
    };
}

RegistryName record_of(const Values& attributes, const Values& properties = {}) {
    return registry_name(lookup_in(attributes), lookup_in(properties));
}

// Registry records handed to the listing instead of udev's.
class GivenRegistry : public UsbRegistry {
  public:
    explicit GivenRegistry(std::vector<RegistryName> names, bool fails = false)
        : names_(std::move(names)), fails_(fails) {}
    std::vector<RegistryName> walk() override {
        if (fails_) {
            throw std::runtime_error("registry down");
        }
        return names_;
    }

  private:
    std::vector<RegistryName> names_;
    bool fails_;
};

RegistryName named(int64_t bus, int64_t address, int64_t vendor, int64_t product,
                   const std::string& product_name) {
    RegistryName name;
    name.bus = bus;
    name.address = address;
    name.vendor = vendor;
    name.product = product;
    name.location = (bus << 16) | address;
    name.vendor_name = "Maker " + product_name;
    name.product_name = product_name;
    name.serial = "serial-" + product_name;
    return name;
}

DeviceInfo usb_device(const std::string& path, uint8_t bus, uint8_t address, uint16_t vendor,
                      uint16_t product, uint8_t device_class = 0) {
    return {path, vendor, product, true, bus, address, device_class};
}

IosDevice iphone(const std::string& serial, uint32_t location, bool trusted) {
    IosDevice device;
    device.id = "ios:00008030001a";
    device.device_id = 3;
    device.product_id = 0x12A8;
    device.location_id = location;
    device.serial = serial;
    device.trusted = trusted;
    return device;
}

std::string listing(GivenRegistry registry, std::vector<DeviceInfo> usb,
                    std::vector<IosDevice> ios = {}) {
    DeviceWalks walks{&registry, [&] { return usb; }, [&] { return ios; }};
    return device_list_text(list_devices(walks));
}

nlohmann::json listed(GivenRegistry registry, std::vector<DeviceInfo> usb,
                      std::vector<IosDevice> ios = {}) {
    return nlohmann::json::parse(listing(std::move(registry), std::move(usb), std::move(ios)));
}

TEST(RegistryRecord, ReadsSysfsNumbersAndNames) {
    const auto name = record_of({{"busnum", "3"},
                                 {"devnum", "12"},
                                 {"idVendor", "18d1"},
                                 {"idProduct", "4ee7"},
                                 {"manufacturer", "Google"},
                                 {"product", "Pixel 7"},
                                 {"serial", "29031FDH2005"}},
                                {{"ID_VENDOR_FROM_DATABASE", "Google Inc."}});
    EXPECT_EQ(name.bus, 3);
    EXPECT_EQ(name.address, 12);
    EXPECT_EQ(name.vendor, 0x18D1);
    EXPECT_EQ(name.product, 0x4EE7);
    EXPECT_EQ(name.location, (3 << 16) | 12);
    EXPECT_EQ(name.vendor_name, "Google");
    EXPECT_EQ(name.product_name, "Pixel 7");
    EXPECT_EQ(name.serial, "29031FDH2005");
}

TEST(RegistryRecord, FallsBackToTheHardwareDatabaseNames) {
    const auto name = record_of({{"busnum", "1"}, {"devnum", "2"}, {"manufacturer", ""}},
                                {{"ID_VENDOR_FROM_DATABASE", "Samsung Electronics Co., Ltd"},
                                 {"ID_MODEL_FROM_DATABASE", "Galaxy series, misc. (MTP mode)"}});
    EXPECT_EQ(name.vendor_name, "Samsung Electronics Co., Ltd");
    EXPECT_EQ(name.product_name, "Galaxy series, misc. (MTP mode)");
    EXPECT_EQ(name.serial, "");
}

TEST(RegistryRecord, MissingOrMalformedValuesAreUnknown) {
    const auto name = record_of({{"busnum", "x1"},
                                 {"idVendor", "18d1 "},
                                 {"idProduct", ""},
                                 {"product", std::string(256, 'p')},
                                 {"manufacturer", "\xff\xfe"}},
                                {{"ID_VENDOR_FROM_DATABASE", "Database Vendor"}});
    EXPECT_EQ(name.bus, -1);
    EXPECT_EQ(name.address, -1);
    EXPECT_EQ(name.vendor, -1);
    EXPECT_EQ(name.product, -1);
    EXPECT_EQ(name.location, -1);
    EXPECT_EQ(name.product_name, "");                // 256 bytes do not fit with the terminator
    EXPECT_EQ(name.vendor_name, "Database Vendor");  // invalid UTF-8 counts as missing
    EXPECT_EQ(record_of({{"product", std::string(255, 'p')}}).product_name.size(), 255u);
}

TEST(DeviceMatching, ExactRecordWinsOverOneWithTheSameIds) {
    const auto devices = listed(
        GivenRegistry({named(1, 9, 0x18D1, 0x4EE7, "other"), named(1, 5, 0x18D1, 0x4EE7, "exact")}),
        {usb_device("1:1.4", 1, 5, 0x18D1, 0x4EE7)});
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]["productName"], "exact");
    EXPECT_EQ(devices[0]["vendorName"], "Maker exact");
    EXPECT_EQ(devices[0]["serial"], "serial-exact");
}

TEST(DeviceMatching, UniqueVendorAndProductIsTheFallback) {
    const auto devices = listed(
        GivenRegistry({named(2, 1, 0x04E8, 0x6860, "galaxy"), named(2, 2, 0x1D6B, 0x0002, "hub")}),
        {usb_device("1:1.4", 1, 5, 0x04E8, 0x6860)});
    EXPECT_EQ(devices[0]["productName"], "galaxy");
}

TEST(DeviceMatching, TwinPhonesGetTheirOwnNamesOnlyByBusAndAddress) {
    const std::vector<DeviceInfo> twins{usb_device("1:1.4", 1, 5, 0x04E8, 0x6860),
                                        usb_device("1:1.5", 1, 6, 0x04E8, 0x6860)};
    const auto matched = listed(GivenRegistry({named(1, 6, 0x04E8, 0x6860, "second"),
                                               named(1, 5, 0x04E8, 0x6860, "first")}),
                                twins);
    EXPECT_EQ(matched[0]["productName"], "first");
    EXPECT_EQ(matched[1]["productName"], "second");

    const auto unmatched = listed(
        GivenRegistry({named(3, 6, 0x04E8, 0x6860, "a"), named(3, 5, 0x04E8, 0x6860, "b")}), twins);
    for (const auto& device : unmatched) {
        EXPECT_EQ(device["productName"], "");
        EXPECT_EQ(device["vendorName"], "");
        EXPECT_EQ(device["serial"], "");
    }
}

TEST(DeviceMatching, HintsForHubsAndAccessories) {
    const auto devices =
        listed(GivenRegistry({}),
               {usb_device("1:1", 1, 1, 0x1D6B, 0x0002, 9), usb_device("1:2", 1, 2, 0x18D1, 0x2D01),
                usb_device("1:3", 1, 3, 0x18D1, 0x2D02), usb_device("1:4", 1, 4, 0x05AC, 0x12A8)});
    ASSERT_EQ(devices.size(), 3u);  // the Apple device only ever comes through usbmuxd
    EXPECT_EQ(devices[0]["hub"], true);
    EXPECT_EQ(devices[0]["accessory"], false);
    EXPECT_EQ(devices[1]["accessory"], true);
    EXPECT_EQ(devices[1]["hub"], false);
    EXPECT_EQ(devices[2]["accessory"], false);
}

TEST(DeviceMatching, IphoneTakesItsProductNameByLocationFromAnAppleRecord) {
    RegistryName not_apple = named(1, 7, 0x04E8, 0x6860, "not this");
    const auto devices = listed(GivenRegistry({not_apple, named(1, 7, 0x05AC, 0x12A8, "iPhone")}),
                                {}, {iphone("00008030-001A", (1 << 16) | 7, true)});
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]["productName"], "iPhone");
    EXPECT_EQ(devices[0]["trusted"], true);
}

TEST(DeviceListText, BothEntryKindsByteForByte) {
    const std::string text = listing(GivenRegistry({named(1, 5, 0x18D1, 0x2D00, "Pixel 7 \xc3\xa9"),
                                                    named(1, 7, 0x05AC, 0x12A8, "iPhone")}),
                                     {usb_device("1:1.4", 1, 5, 0x18D1, 0x2D00)},
                                     {iphone("00008030-001A", (1 << 16) | 7, false)});
    EXPECT_EQ(text,
              "[{\"accessory\":true,\"hub\":false,\"path\":\"1:1.4\",\"platform\":\"android\","
              "\"product\":11520,\"productName\":\"Pixel 7 \xc3\xa9\",\"serial\":\"serial-Pixel 7 "
              "\xc3\xa9\",\"vendor\":6353,\"vendorName\":\"Maker Pixel 7 \xc3\xa9\"},"
              "{\"accessory\":false,\"hub\":false,\"path\":\"ios:00008030001a\",\"platform\":"
              "\"ios\",\"product\":4776,\"productName\":\"iPhone\",\"serial\":\"00008030-001A\","
              "\"trusted\":false,\"vendor\":1452,\"vendorName\":\"Apple\"}]");
}

TEST(DeviceListText, NothingAttachedIsAnEmptyArray) {
    EXPECT_EQ(listing(GivenRegistry({}), {}, {}), "[]");
}

TEST(DeviceWalkFailures, EachWalkFailsOnItsOwn) {
    GivenRegistry failing_registry({}, true);
    GivenRegistry registry({named(1, 5, 0x04E8, 0x6860, "galaxy")});
    const auto usb = [] {
        return std::vector<DeviceInfo>{usb_device("1:1.4", 1, 5, 0x04E8, 0x6860)};
    };
    const auto ios = [] { return std::vector<IosDevice>{iphone("A", 1, true)}; };
    const auto usb_fails = []() -> std::vector<DeviceInfo> { throw std::runtime_error("usb"); };
    const auto ios_fails = []() -> std::vector<IosDevice> { throw std::runtime_error("ios"); };

    const auto nameless = list_devices({&failing_registry, usb, ios});
    ASSERT_EQ(nameless.size(), 2u);
    EXPECT_EQ(nameless[0]["productName"], "");
    EXPECT_EQ(nameless[1]["platform"], "ios");

    const auto only_ios = list_devices({&registry, usb_fails, ios});
    ASSERT_EQ(only_ios.size(), 1u);
    EXPECT_EQ(only_ios[0]["platform"], "ios");

    const auto only_android = list_devices({&registry, usb, ios_fails});
    ASSERT_EQ(only_android.size(), 1u);
    EXPECT_EQ(only_android[0]["productName"], "galaxy");
}

TEST(DeviceWalkFailures, RealLibusbHereStillListsTheIphone) {
    GivenRegistry registry({});
    const auto usb = [] {
        AoaTransport transport;
        return transport.list();
    };
    const auto devices =
        list_devices({&registry, usb, [] { return std::vector<IosDevice>{iphone("A", 1, true)}; }});
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ(devices.back()["path"], "ios:00008030001a");
}

}  // namespace
}  // namespace kova

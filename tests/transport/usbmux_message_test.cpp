#include "core/transport/usbmux_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/transport/error.h"
#include "core/transport/ios_id.h"
#include "core/transport/usbmux_transport.h"

namespace kova::usbmux {
namespace {

uint32_t u32_at(const std::vector<uint8_t>& bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

std::vector<uint8_t> header_announcing(uint32_t length) {
    return {static_cast<uint8_t>(length),
            static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(length >> 16),
            static_cast<uint8_t>(length >> 24),
            1,
            0,
            0,
            0,
            8,
            0,
            0,
            0,
            1,
            0,
            0,
            0};
}

std::string code_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "no error";
}

Plist parse_xml(const std::string& xml) {
    plist_t node = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &node);
    return Plist(node);
}

TEST(UsbmuxMessage, RequestIsHeaderAndXmlDictionaryWithClientKeys) {
    Plist request = new_request("ReadPairRecord");
    plist_dict_set_item(request.get(), "PairRecordID", plist_new_string("serial-1"));
    const std::vector<uint8_t> message = encode_message(request.get());

    ASSERT_GT(message.size(), kHeaderBytes);
    EXPECT_EQ(u32_at(message, 0), message.size());
    EXPECT_EQ(u32_at(message, 4), 1u);
    EXPECT_EQ(u32_at(message, 8), 8u);
    EXPECT_EQ(u32_at(message, 12), 1u);
    const std::string payload(message.begin() + kHeaderBytes, message.end());
    EXPECT_EQ(payload.rfind("<?xml version=\"1.0\"", 0), 0u);

    const Plist decoded = decode_reply(message.data(), message.size());
    EXPECT_EQ(read_string(decoded.get(), "MessageType"), "ReadPairRecord");
    EXPECT_EQ(read_string(decoded.get(), "ClientVersionString"), "KOVA");
    EXPECT_EQ(read_string(decoded.get(), "ProgName"), "KOVA Connect");
    EXPECT_EQ(read_string(decoded.get(), "PairRecordID"), "serial-1");
}

TEST(UsbmuxMessage, EncodingNothingFails) {
    EXPECT_EQ(code_of([] { encode_message(nullptr); }), "usbmux_encode");
}

TEST(UsbmuxMessage, ReplyLengthMustLieWithinBounds) {
    for (uint32_t refused : {0u, 15u, 1048577u, 0xFFFFFFFFu}) {
        const auto header = header_announcing(refused);
        EXPECT_EQ(code_of([&] { reply_length(header.data()); }), "usbmux_reply_size") << refused;
    }
    for (uint32_t accepted : {16u, 4096u, 1048576u}) {
        const auto header = header_announcing(accepted);
        EXPECT_EQ(reply_length(header.data()), accepted);
    }
}

TEST(UsbmuxMessage, DecodingNeedsTheWholeAnnouncedReply) {
    Plist request = new_request("ListDevices");
    std::vector<uint8_t> message = encode_message(request.get());
    EXPECT_EQ(code_of([&] { decode_reply(message.data(), 15); }), "usbmux_read");
    EXPECT_EQ(code_of([&] { decode_reply(message.data(), message.size() - 1); }), "usbmux_read");
    // Bytes after the reply belong to whatever follows it (the tunnel) and are not looked at.
    message.insert(message.end(), {'x', 'y', 'z'});
    EXPECT_EQ(read_string(decode_reply(message.data(), message.size()).get(), "MessageType"),
              "ListDevices");
}

TEST(UsbmuxMessage, PayloadMustBeAPropertyListDictionary) {
    const std::string not_plist = "Number=0";
    const std::string array =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>"
        "<integer>0</integer></array></plist>";
    const std::string truncated = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>N";
    for (const std::string& payload : {std::string(), not_plist, array, truncated}) {
        EXPECT_EQ(code_of([&] {
                      parse_payload(reinterpret_cast<const uint8_t*>(payload.data()),
                                    payload.size());
                  }),
                  "usbmux_bad_reply")
            << payload;
    }
}

TEST(UsbmuxMessage, ValuesAreReadLeniently) {
    Plist dict(plist_new_dict());
    plist_dict_set_item(dict.get(), "Short", plist_new_string("USB"));
    plist_dict_set_item(dict.get(), "Longest", plist_new_string(std::string(255, 'a').c_str()));
    plist_dict_set_item(dict.get(), "TooLong", plist_new_string(std::string(256, 'a').c_str()));
    plist_dict_set_item(dict.get(), "Number", plist_new_uint(4242));
    plist_dict_set_item(dict.get(), "Flag", plist_new_bool(1));

    EXPECT_EQ(read_string(dict.get(), "Short"), "USB");
    EXPECT_EQ(read_string(dict.get(), "Longest"), std::string(255, 'a'));
    EXPECT_EQ(read_string(dict.get(), "TooLong"), "");
    EXPECT_EQ(read_string(dict.get(), "Number"), "");
    EXPECT_EQ(read_string(dict.get(), "Absent"), "");
    EXPECT_EQ(read_number(dict.get(), "Number"), 4242);
    EXPECT_EQ(read_number(dict.get(), "Short"), -1);
    EXPECT_EQ(read_number(dict.get(), "Flag"), -1);
    EXPECT_EQ(read_number(dict.get(), "Absent"), -1);
    EXPECT_EQ(read_number(nullptr, "Number"), -1);
}

TEST(UsbmuxMessage, NumbersFromXmlKeepTheirSign) {
    const Plist dict = parse_xml(
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
        "<key>Negative</key><integer>-7</integer>"
        "<key>Big</key><integer>4294967296</integer>"
        "<key>Real</key><real>2.5</real></dict></plist>");
    ASSERT_TRUE(dict);
    EXPECT_EQ(read_number(dict.get(), "Negative"), -7);
    EXPECT_EQ(read_number(dict.get(), "Big"), 4294967296LL);
    EXPECT_EQ(read_number(dict.get(), "Real"), -1);
}

TEST(UsbmuxMessage, StringsWithNulBytesEndAtTheFirstOne) {
    // libplist aborts when such a string is fetched as a copy; a reply may still carry one.
    const std::string xml = std::string(
                                "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                                "<key>MessageType</key><string>Re") +
                            std::string(2, '\0') + "lt</string></dict></plist>";
    const Plist dict = parse_payload(reinterpret_cast<const uint8_t*>(xml.data()), xml.size());
    EXPECT_EQ(read_string(dict.get(), "MessageType"), "Re");
}

class DeviceListReply : public ::testing::Test {
  protected:
    static plist_t properties(const char* connection, const char* serial) {
        plist_t props = plist_new_dict();
        plist_dict_set_item(props, "ConnectionType", plist_new_string(connection));
        if (serial != nullptr) {
            plist_dict_set_item(props, "SerialNumber", plist_new_string(serial));
        }
        return props;
    }
    void add_entry(plist_t props, int64_t device_id = -2) {
        plist_t entry = plist_new_dict();
        if (device_id != -2) {
            plist_dict_set_item(entry, "DeviceID",
                                plist_new_uint(static_cast<uint64_t>(device_id)));
        }
        if (props != nullptr) {
            plist_dict_set_item(entry, "Properties", props);
        }
        plist_array_append_item(list_, entry);
    }
    Plist reply_{plist_new_dict()};
    plist_t list_ = nullptr;
    void SetUp() override {
        list_ = plist_new_array();
        plist_dict_set_item(reply_.get(), "DeviceList", list_);
    }
};

TEST_F(DeviceListReply, KeepsUsbEntriesWithSerialsInOrder) {
    plist_t first = properties("USB", "first-serial");
    plist_dict_set_item(first, "ProductID", plist_new_uint(0x12A8));
    plist_dict_set_item(first, "LocationID", plist_new_uint(0x10004));
    add_entry(first, 7);
    add_entry(properties("Network", "wifi-serial"), 8);
    add_entry(properties("USB", ""), 9);
    add_entry(properties("USB", nullptr), 10);
    add_entry(properties("usb", "lower-case-kind"), 11);
    add_entry(nullptr, 12);
    plist_array_append_item(list_, plist_new_string("not a dictionary"));
    add_entry(properties("USB", "second-serial"));

    const std::vector<IosDevice> devices = parse_device_list(reply_.get());
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].serial, "first-serial");
    EXPECT_EQ(devices[0].id, ios_id("first-serial"));
    EXPECT_EQ(devices[0].device_id, 7);
    EXPECT_EQ(devices[0].product_id, 0x12A8);
    EXPECT_EQ(devices[0].location_id, 0x10004u);
    EXPECT_FALSE(devices[0].trusted);
    // Missing numbers: -1 for the handle, all bits set for the USB ids.
    EXPECT_EQ(devices[1].serial, "second-serial");
    EXPECT_EQ(devices[1].device_id, -1);
    EXPECT_EQ(devices[1].product_id, 0xFFFF);
    EXPECT_EQ(devices[1].location_id, 0xFFFFFFFFu);
}

TEST_F(DeviceListReply, MissingOrMistypedListIsEmpty) {
    EXPECT_TRUE(parse_device_list(nullptr).empty());
    Plist no_list(plist_new_dict());
    EXPECT_TRUE(parse_device_list(no_list.get()).empty());
    Plist wrong_kind(plist_new_dict());
    plist_dict_set_item(wrong_kind.get(), "DeviceList", plist_new_string("[]"));
    EXPECT_TRUE(parse_device_list(wrong_kind.get()).empty());
}

TEST(IosId, IsStableShortLowerCaseHexOfTheSerialDigest) {
    // The first six bytes of the standard SHA-256 test vectors.
    EXPECT_EQ(ios_id(""), "ios:e3b0c44298fc");
    EXPECT_EQ(ios_id("abc"), "ios:ba7816bf8f01");
    const std::string udid = "00008101-000A1B2C3D4E5F60";
    EXPECT_EQ(ios_id(udid), ios_id(udid));
    EXPECT_NE(ios_id(udid), ios_id(udid + "1"));
    for (const std::string& serial : {udid, std::string(300, 'z'), std::string("\xff\x00", 2)}) {
        const std::string id = ios_id(serial);
        ASSERT_EQ(id.size(), 16u);
        EXPECT_EQ(id.rfind("ios:", 0), 0u);
        EXPECT_EQ(id.find_first_not_of("0123456789abcdef", 4), std::string::npos) << id;
    }
}

}  // namespace
}  // namespace kova::usbmux

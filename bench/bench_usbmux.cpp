// The usbmuxd client: decoding a reply, and whole exchanges against the stand-in daemon on a
// Unix socket (listing with its pairing query, and opening a tunnel).
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/transport/ios_id.h"
#include "core/transport/usbmux_message.h"
#include "core/transport/usbmux_transport.h"
#include "tests/support/usbmux_socket_dir.h"
#include "tools/phone/usbmux_server.h"

namespace {

std::vector<uint8_t> device_list_reply(int devices) {
    kova::usbmux::Plist reply = kova::usbmux::new_request("Result");
    plist_t list = plist_new_array();
    for (int i = 0; i < devices; ++i) {
        plist_t properties = plist_new_dict();
        plist_dict_set_item(properties, "ConnectionType", plist_new_string("USB"));
        plist_dict_set_item(properties, "SerialNumber",
                            plist_new_string(("00008101-00" + std::to_string(i)).c_str()));
        plist_dict_set_item(properties, "ProductID", plist_new_uint(0x12A8));
        plist_dict_set_item(properties, "LocationID", plist_new_uint(0x10004 + i));
        plist_t entry = plist_new_dict();
        plist_dict_set_item(entry, "DeviceID", plist_new_uint(i + 1));
        plist_dict_set_item(entry, "Properties", properties);
        plist_array_append_item(list, entry);
    }
    plist_dict_set_item(reply.get(), "DeviceList", list);
    return kova::usbmux::encode_message(reply.get());
}

void BM_DecodeDeviceList(benchmark::State& state) {
    const std::vector<uint8_t> message = device_list_reply(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const auto reply = kova::usbmux::decode_reply(message.data(), message.size());
        benchmark::DoNotOptimize(kova::parse_device_list(reply.get()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}
BENCHMARK(BM_DecodeDeviceList)->Arg(1)->Arg(8);

void BM_ListAgainstStandIn(benchmark::State& state) {
    kova::test::UsbmuxSocketDir socket;
    kova::phone::UsbmuxServer server(socket.path(), {}, nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(kova::UsbmuxTransport::list());
    }
}
BENCHMARK(BM_ListAgainstStandIn)->Unit(benchmark::kMicrosecond);

void BM_ConnectAgainstStandIn(benchmark::State& state) {
    kova::test::UsbmuxSocketDir socket;
    kova::phone::UsbmuxServer server(socket.path(), {}, [](int fd) { ::close(fd); });
    const std::string id = kova::ios_id(kova::phone::UsbmuxDevice{}.serial);
    for (auto _ : state) {
        kova::UsbmuxTransport link;
        link.connect(id, 48000);
    }
}
BENCHMARK(BM_ConnectAgainstStandIn)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

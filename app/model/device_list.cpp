#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/model/connect_model.h"
#include "app/model/settings_keys.h"

namespace kova {

namespace {

using nlohmann::json;

// Anything but an array of objects reads as an empty list.
json parseDeviceList(const char* text) {
    json document = json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_array()) {
        return json::array();
    }
    for (const auto& element : document) {
        if (!element.is_object()) {
            return json::array();
        }
    }
    return document;
}

}  // namespace

std::set<std::string> ConnectModel::pairedSet() const {
    const auto stored = settings_keys::readStrings(*ports_.settings, settings_keys::pairedPhones);
    return {stored.begin(), stored.end()};
}

void ConnectModel::refresh() {
    publish(kovaDevicePresent_, ports_.library->devicePresent(), Property::kovaDevicePresent);
    const double rate = ports_.library->deviceSampleRate();
    publish(kovaSampleRate_, rate > 0 ? std::optional<double>(rate) : std::nullopt,
            Property::kovaSampleRate);

    char* text = ports_.library->listDevices();
    if (text == nullptr) {
        return;
    }
    const std::unique_ptr<char, std::function<void(char*)>> owned(
        text, [library = ports_.library](char* released) { library->freeText(released); });
    const json document = parseDeviceList(text);
    const auto paired = pairedSet();
    std::vector<Device> list;
    for (const auto& entry : document) {
        if (auto device = deviceFromEntry(entry, paired, *ports_.sha256)) {
            list.push_back(std::move(*device));
        }
    }
    std::stable_partition(list.begin(), list.end(),
                          [](const Device& device) { return device.isCandidate(); });
    publish(devices_, std::move(list), Property::devices);
    applySelection(devices_);
}

void ConnectModel::applySelection(const std::vector<Device>& list) {
    const auto hasPath = [&list](const std::string& path) {
        return std::any_of(list.begin(), list.end(),
                           [&path](const Device& device) { return device.path == path; });
    };
    if (selectedPath_ && hasPath(*selectedPath_)) {
        return;
    }
    std::optional<std::string> chosen;
    const auto candidates = std::count_if(
        list.begin(), list.end(), [](const Device& device) { return device.isCandidate(); });
    if (candidates == 1) {
        chosen = std::find_if(list.begin(), list.end(), [](const Device& device) {
                     return device.isCandidate();
                 })->path;
    } else if (const auto stored =
                   settings_keys::readString(*ports_.settings, settings_keys::devicePath);
               stored && hasPath(*stored)) {
        chosen = stored;
    }
    setSelectedPath(std::move(chosen));
}

std::optional<Device> ConnectModel::device(const std::optional<std::string>& path) const {
    if (!path) {
        return std::nullopt;
    }
    const auto found = std::find_if(devices_.begin(), devices_.end(),
                                    [&path](const Device& entry) { return entry.path == *path; });
    return found == devices_.end() ? std::nullopt : std::optional<Device>(*found);
}

void ConnectModel::pair(const std::string& path) {
    const auto entry = device(path);
    if (!entry || !entry->serialHash) {
        return;
    }
    auto paired = pairedSet();
    if (!paired.insert(*entry->serialHash).second) {
        return;
    }
    ports_.settings->setValue(settings_keys::pairedPhones,
                              std::vector<std::string>(paired.begin(), paired.end()));
    refresh();
}

std::string ConnectModel::hash(const std::string& serial) const {
    return serialHashOf(serial, *ports_.sha256);
}

}  // namespace kova

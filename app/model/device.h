#pragma once

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <set>
#include <string>

namespace kova {

class Sha256;

/// One phone of the panel's list.
struct Device {
    std::string path;                       ///< Device key as the library lists it; the identity.
    std::string name;                       ///< Display name.
    bool accessory = false;                 ///< Android phone already in accessory mode.
    std::optional<std::string> serialHash;  ///< Lower-case hex SHA-256 of the serial, if any.
    bool ios = false;                       ///< iPhone or iPad reached through usbmuxd.
    bool trusted = false;                   ///< The iPhone or iPad trusts this computer.
    bool paired = false;                    ///< serialHash is in the stored paired set.

    /// Equal when all seven fields are.
    bool operator==(const Device&) const = default;
    /// The picker's text: name, " (iOS)", then " · ready for KOVA" or " · paired".
    std::string label() const;
    /// What to do on the phone while the model waits for its app.
    std::string waitingText() const;
    /// Startable without further choice: accessory, iOS or paired.
    bool isCandidate() const { return accessory || ios || paired; }
};

/// Turns one element of the library's device list into a Device; none when it is rejected.
std::optional<Device> deviceFromEntry(const nlohmann::json& entry,
                                      const std::set<std::string>& pairedSet, Sha256& sha256);

/// Lower-case hexadecimal SHA-256 of the serial's bytes (64 characters).
std::string serialHashOf(const std::string& serial, Sha256& sha256);

}  // namespace kova

/// Hashes the seven fields in order, so Device can key unordered containers.
template <>
struct std::hash<kova::Device> {
    /// Combined hash of every field (serialHash contributes its presence first).
    std::size_t operator()(const kova::Device& device) const noexcept;
};

#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kova {

/// One stored preference: a Boolean, a string or a list of strings.
using SettingValue = std::variant<bool, std::string, std::vector<std::string>>;

/// The user's persistent preferences store.
class Settings {
  public:
    virtual ~Settings() = default;
    /// The value stored under `key`, none when nothing is.
    virtual std::optional<SettingValue> value(const std::string& key) const = 0;
    /// Stores `value` under `key`, replacing what was there.
    virtual void setValue(const std::string& key, const SettingValue& value) = 0;
    /// Removes `key`; a missing key is fine.
    virtual void remove(const std::string& key) = 0;
};

}  // namespace kova

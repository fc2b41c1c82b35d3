// The model's preferences on QSettings.
#pragma once

#include <QSettings>
#include <memory>

#include "app/model/ports/settings.h"

namespace kova::shell {

/// Preferences in the user's configuration (organisation "KOVA", application "KOVA Connect").
/// The INI file keeps no types, so lists are written as arrays and "true"/"false" read as
/// Booleans, which keeps each value's kind across restarts.
class QtSettings : public Settings {
  public:
    /// The application's own store.
    QtSettings();
    /// A store in the INI file at `path` (tests).
    explicit QtSettings(const QString& path);

    /// The value under `key` with the kind it was stored with; none when absent.
    std::optional<SettingValue> value(const std::string& key) const override;
    /// Stores `value` under `key` and writes the file.
    void setValue(const std::string& key, const SettingValue& value) override;
    /// Removes `key` (and a list stored there) and writes the file.
    void remove(const std::string& key) override;

  private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace kova::shell

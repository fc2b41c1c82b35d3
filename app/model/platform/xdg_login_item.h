#pragma once

#include <filesystem>
#include <string>

#include "app/model/ports/login_item.h"

namespace kova {

/// Open at login through an XDG autostart entry.
class XdgLoginItem : public LoginItem {
  public:
    /// The entry will start `executable` (by default the installed kova-connect).
    explicit XdgLoginItem(std::string executable = installedExecutable());
    /// The installed application's path.
    static std::string installedExecutable();
    /// The autostart file: $XDG_CONFIG_HOME (or
    /// ~/.config)/autostart/com.brenvale.kova.connect.desktop.
    static std::filesystem::path autostartFile();
    /// Where this item writes, fixed at construction.
    const std::filesystem::path& file() const { return file_; }
    /// The text written to the autostart file.
    std::string entryText() const;
    /// True when the autostart file exists.
    bool isEnabled() override;
    /// Writes (on) or removes (off) the file; throws std::runtime_error saying what failed.
    void set(bool on) override;

  private:
    void write() const;
    void remove() const;

    std::string executable_;
    std::filesystem::path file_;
};

}  // namespace kova

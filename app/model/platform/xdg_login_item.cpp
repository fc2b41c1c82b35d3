#include "app/model/platform/xdg_login_item.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace kova {

namespace {

namespace fs = std::filesystem;

constexpr const char* entryName = "com.brenvale.kova.connect.desktop";

fs::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* user = getpwuid(geteuid()); user != nullptr && user->pw_dir != nullptr) {
        return user->pw_dir;
    }
    return "/";
}

fs::path configHome() {
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
        return config;
    }
    return homeDirectory() / ".config";
}

// Exec keys quote arguments holding reserved characters; inside quotes four characters need a
// backslash, the file format itself doubles every backslash, and "%" starts a field code.
std::string execArgument(const std::string& path) {
    std::string literal;
    for (const char c : path) {
        literal += c;
        if (c == '%') {
            literal += '%';
        }
    }
    if (literal.find_first_of(" \t\n\"'\\><~|&;$*?#()`=") == std::string::npos) {
        return literal;
    }
    std::string quoted = "\"";
    for (const char c : literal) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    quoted += '"';
    std::string escaped;
    for (const char c : quoted) {
        escaped += c;
        if (c == '\\') {
            escaped += '\\';
        }
    }
    return escaped;
}

[[noreturn]] void fail(const std::string& what, const fs::path& path, std::error_code error) {
    throw std::runtime_error(what + " " + path.string() + ": " + error.message());
}

}  // namespace

XdgLoginItem::XdgLoginItem(std::string executable)
    : executable_(std::move(executable)), file_(autostartFile()) {}

std::string XdgLoginItem::installedExecutable() {
#ifdef KOVA_CONNECT_INSTALLED
    return KOVA_CONNECT_INSTALLED;
#else
    return "/usr/local/bin/kova-connect";
#endif
}

fs::path XdgLoginItem::autostartFile() {
    return configHome() / "autostart" / entryName;
}

std::string XdgLoginItem::entryText() const {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=KOVA Connect\n"
           "Comment=Play the desktop's audio on a phone's speaker over USB\n"
           "Exec=" +
           execArgument(executable_) +
           "\n"
           "Icon=com.brenvale.kova.connect\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool XdgLoginItem::isEnabled() {
    std::error_code error;
    return fs::exists(file_, error);
}

void XdgLoginItem::set(bool on) {
    if (on) {
        write();
    } else {
        remove();
    }
}

// Written beside the target and renamed over it, so a failed write never leaves half a file.
void XdgLoginItem::write() const {
    std::error_code error;
    fs::create_directories(file_.parent_path(), error);
    if (error) {
        fail("Cannot create", file_.parent_path(), error);
    }
    fs::path partial = file_;
    partial += ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << entryText();
        out.flush();
        if (!out) {
            const std::error_code cause(errno != 0 ? errno : EIO, std::generic_category());
            fs::remove(partial, error);
            fail("Cannot write", file_, cause);
        }
    }
    fs::rename(partial, file_, error);
    if (error) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        fail("Cannot write", file_, error);
    }
}

void XdgLoginItem::remove() const {
    std::error_code error;
    if (!fs::exists(file_, error)) {
        return;
    }
    fs::remove(file_, error);
    if (error) {
        fail("Cannot remove", file_, error);
    }
}

}  // namespace kova

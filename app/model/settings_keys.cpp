#include "app/model/settings_keys.h"

namespace kova::settings_keys {

namespace {

template <typename T>
std::optional<T> readAs(const Settings& settings, const char* key) {
    const auto stored = settings.value(key);
    if (stored && std::holds_alternative<T>(*stored)) {
        return std::get<T>(*stored);
    }
    return std::nullopt;
}

}  // namespace

std::optional<bool> readBool(const Settings& settings, const char* key) {
    return readAs<bool>(settings, key);
}

std::optional<std::string> readString(const Settings& settings, const char* key) {
    return readAs<std::string>(settings, key);
}

std::vector<std::string> readStrings(const Settings& settings, const char* key) {
    return readAs<std::vector<std::string>>(settings, key).value_or(std::vector<std::string>{});
}

}  // namespace kova::settings_keys

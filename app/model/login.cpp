#include <exception>

#include "app/model/connect_model.h"
#include "app/model/settings_keys.h"

namespace kova {

void ConnectModel::configureLoginItemOnFirstLaunch() {
    if (settings_keys::readBool(*ports_.settings, settings_keys::loginItemConfigured) == true) {
        return;
    }
    ports_.settings->setValue(settings_keys::loginItemConfigured, true);
    try {
        ports_.loginItem->set(true);
    } catch (const std::exception&) {
        // The first-launch registration is a convenience; the switch shows the outcome.
    }
}

void ConnectModel::setLaunchAtLogin(bool on) {
    try {
        ports_.loginItem->set(on);
    } catch (const std::exception& failure) {
        publish(
            errorText_,
            std::optional<std::string>(std::string("Could not set login item: ") + failure.what()),
            Property::errorText);
    }
    updateLoginItemStatus();
}

void ConnectModel::updateLoginItemStatus() {
    publish(launchAtLogin_, ports_.loginItem->isEnabled(), Property::launchAtLogin);
    if (ports_.loginItem->requiresApproval()) {
        publish(errorText_,
                std::optional<std::string>(
                    "Approve KOVA Connect in System Settings › General › Login Items."),
                Property::errorText);
    }
}

}  // namespace kova

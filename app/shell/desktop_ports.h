// The controller model's ports for a desktop session.
#pragma once

#include <memory>

#include "app/model/connect_model.h"
#include "app/shell/ports/qt_main_queue.h"

namespace kova::shell {

/// The model's ports for a desktop session: the real library, the Qt main queue and
/// settings, udev and PulseAudio watchers, the XDG autostart entry.
ConnectPorts desktopPorts(const std::shared_ptr<QtMainQueue>& queue);

}  // namespace kova::shell

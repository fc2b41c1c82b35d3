// The application's dark look, whatever the desktop's theme.
#pragma once

class QApplication;

namespace kova::shell {

/// Switches `app` to the Fusion style with a dark palette tinted by the brand accent.
void applyDarkAppearance(QApplication& app);

}  // namespace kova::shell

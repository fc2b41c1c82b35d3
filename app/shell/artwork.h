// The application's drawn artwork: the wordmark and the application icon.
#pragma once

#include <QImage>

namespace kova::shell {

/// The "KOVA" wordmark, light letters on transparency, `pixelHeight` pixels high.
QImage drawWordmark(int pixelHeight);

/// The application icon: the streaming glyph in white on an accent tile of `pixels` square.
QImage drawApplicationIcon(int pixels);

}  // namespace kova::shell

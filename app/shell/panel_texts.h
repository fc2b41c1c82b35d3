// The panel's derived texts and colours, as pure functions of the model's values.
#pragma once

#include <QColor>
#include <QString>
#include <optional>

namespace kova::shell {

/// Colour of the state dot: accent while streaming, red with an error, grey when idle,
/// orange while a session is connecting or stopping.
QColor stateColor(bool streaming, bool hasError, bool idle);

/// Text of the Output row for a present KOVA device at `sampleRate` Hz (absent: unknown).
QString outputDescription(std::optional<double> sampleRate);

/// Input level: "silence" below 0.0001, else the peak in whole dBFS; "–" when unknown.
QString inputLevelText(std::optional<double> peak);

/// Phone buffer rounded to whole milliseconds; "–" when unknown.
QString bufferText(std::optional<double> milliseconds);

/// Underrun count in decimal; "–" when unknown.
QString underrunsText(std::optional<long long> count);

/// Footer version: "v" + `version`, then " beta" for a beta version.
QString versionText(const QString& version);

/// The secondary (grey) text colour.
QColor secondaryColor();
/// The tertiary (fainter grey) text colour.
QColor tertiaryColor();
/// The red used for errors.
QColor errorColor();
/// The orange of a session on its way.
QColor connectingColor();

}  // namespace kova::shell

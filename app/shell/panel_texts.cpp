#include "app/shell/panel_texts.h"

#include <QLocale>
#include <cmath>

#include "app/shell/brand.h"

namespace kova::shell {
namespace {

const QString missingValue = QStringLiteral("\u2013");
constexpr double silenceBelow = 0.0001;
constexpr double streamRate = 48000.0;

}  // namespace

QColor secondaryColor() {
    return QColor(0x9a, 0x9a, 0xa0);
}
QColor tertiaryColor() {
    return QColor(0x6c, 0x6c, 0x72);
}
QColor errorColor() {
    return QColor(0xff, 0x45, 0x3a);
}
QColor connectingColor() {
    return QColor(0xff, 0x9f, 0x0a);
}

QColor stateColor(bool streaming, bool hasError, bool idle) {
    if (streaming) {
        return Brand::accent();
    }
    if (hasError) {
        return errorColor();
    }
    return idle ? secondaryColor() : connectingColor();
}

QString outputDescription(std::optional<double> sampleRate) {
    if (!sampleRate) {
        return QStringLiteral("KOVA");
    }
    if (*sampleRate == streamRate) {
        return QStringLiteral("KOVA \u00b7 48 kHz");
    }
    // Up to one fraction digit, none when it would be zero: 44.1, 96.
    const double kilohertz = std::round(*sampleRate / 100.0) / 10.0;
    const QString rate = QLocale(QLocale::English, QLocale::UnitedStates)
                             .toString(kilohertz, 'f', kilohertz == std::floor(kilohertz) ? 0 : 1);
    return QStringLiteral("KOVA \u00b7 ") + rate + QStringLiteral(" kHz \u2192 48 kHz");
}

QString inputLevelText(std::optional<double> peak) {
    if (!peak) {
        return missingValue;
    }
    if (*peak < silenceBelow) {
        return QStringLiteral("silence");
    }
    // Adding zero turns a rounded -0 into 0.
    const double decibels = std::round(20.0 * std::log10(*peak)) + 0.0;
    return QString::asprintf("%.0f dBFS", decibels);
}

QString bufferText(std::optional<double> milliseconds) {
    if (!milliseconds) {
        return missingValue;
    }
    return QString::number(std::llround(*milliseconds)) + QStringLiteral(" ms");
}

QString underrunsText(std::optional<long long> count) {
    return count ? QString::number(*count) : missingValue;
}

QString versionText(const QString& version) {
    return QStringLiteral("v") + version +
           (Brand::isBeta(version) ? QStringLiteral(" beta") : QString());
}

}  // namespace kova::shell

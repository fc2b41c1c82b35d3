#include "app/shell/dark_palette.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

#include "app/shell/brand.h"

namespace kova::shell {
namespace {

QPalette darkPalette() {
    const QColor window(0x2b, 0x2b, 0x2e);
    const QColor base(0x1f, 0x1f, 0x22);
    const QColor text(0xf2, 0xf2, 0xf2);
    const QColor disabledText(0x80, 0x80, 0x85);
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabledText);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Link, Brand::accent());
    palette.setColor(QPalette::Highlight, Brand::accent());
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4f));
    palette.setColor(QPalette::Midlight, QColor(0x3f, 0x3f, 0x44));
    palette.setColor(QPalette::Mid, QColor(0x33, 0x33, 0x37));
    palette.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, disabledText);
    }
    palette.setColor(QPalette::Disabled, QPalette::Button, QColor(0x30, 0x30, 0x33));
    return palette;
}

}  // namespace

void applyDarkAppearance(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setPalette(darkPalette());
}

}  // namespace kova::shell

// kova-connect: the tray application.
#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

#include "app/shell/brand.h"
#include "app/shell/dark_palette.h"
#include "app/shell/launch_options.h"
#include "app/shell/panel_parts.h"
#include "app/shell/panel_texts.h"
#include "app/shell/status_panel.h"

namespace {

using namespace kova::shell;

QWidget* makeContent() {
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(12);
    column->addWidget(makeHeader(Brand::wordmark(), stateColor(false, false, true), QString()));
    column->addWidget(makeDivider());
    column->addWidget(makeFooter(Brand::version()));
    return content;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("KOVA"));
    QApplication::setApplicationName(QStringLiteral("KOVA Connect"));
    QApplication::setApplicationVersion(Brand::version());
    QApplication::setDesktopFileName(QStringLiteral("com.brenvale.kova.connect"));
    QApplication::setWindowIcon(Brand::applicationIcon());
    // The panel hides and shows; only Quit, or closing the no-tray window, ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    applyDarkAppearance(app);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Plays this computer's sound on a phone."));
    parser.addHelpOption();
    parser.addVersionOption();
    addLaunchOptions(parser);
    parser.process(app);
    QSettings settings;

    StatusPanel statusPanel(QSystemTrayIcon::isSystemTrayAvailable(),
                            {[] { return GlyphState::idle; }, {}});
    statusPanel.panel().setContent(makeContent());
    QObject::connect(&statusPanel.panel(), &PanelWindow::closedByUser, &app, &QApplication::quit);
    if (!statusPanel.hasTray()) {
        statusPanel.open();
    }
    scheduleLaunchActions(launchOptions(parser, settings), statusPanel);
    return app.exec();
}

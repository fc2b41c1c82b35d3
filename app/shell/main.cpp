// kova-connect: the tray application.
#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>
#include <QSystemTrayIcon>

#include "app/shell/brand.h"
#include "app/shell/dark_palette.h"
#include "app/shell/desktop_ports.h"
#include "app/shell/launch_options.h"
#include "app/shell/shell_app.h"

using namespace kova::shell;

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

    auto queue = std::make_shared<QtMainQueue>();
    ShellApp shell(desktopPorts(queue), QSystemTrayIcon::isSystemTrayAvailable());
    StatusPanel& statusPanel = shell.statusPanel();
    QObject::connect(&statusPanel.panel(), &PanelWindow::closedByUser, &app, &QApplication::quit);
    if (!statusPanel.hasTray()) {
        statusPanel.open();
    }
    scheduleLaunchActions(launchOptions(parser, QSettings()), statusPanel);
    return app.exec();
}

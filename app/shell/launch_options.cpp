#include "app/shell/launch_options.h"

#include <QCommandLineParser>
#include <QPixmap>
#include <QSaveFile>
#include <QSettings>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "app/shell/status_panel.h"

namespace kova::shell {
namespace {

constexpr int openDelayMs = 500;
constexpr int snapshotDelayMs = 2000;

const QString openPanelOption = QStringLiteral("open-panel");
const QString snapshotOption = QStringLiteral("snapshot");

}  // namespace

void addLaunchOptions(QCommandLineParser& parser) {
    parser.addOption(
        QCommandLineOption(openPanelOption, QStringLiteral("Open the panel at launch.")));
    parser.addOption(QCommandLineOption(
        snapshotOption, QStringLiteral("Save a PNG picture of the panel 2 s after launch."),
        QStringLiteral("PATH")));
}

LaunchOptions launchOptions(const QCommandLineParser& parser, const QSettings& settings) {
    LaunchOptions options;
    options.openPanel = settings.value(QStringLiteral("OpenPanelAtLaunch")).toBool();
    options.snapshotPath = settings.value(QStringLiteral("SnapshotPanelTo")).toString();
    if (parser.isSet(openPanelOption)) {
        options.openPanel = true;
    }
    if (parser.isSet(snapshotOption)) {
        options.snapshotPath = parser.value(snapshotOption);
        options.openPanel = true;
    }
    return options;
}

bool saveSnapshot(QWidget& widget, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    if (!widget.grab().save(&file, "PNG")) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void scheduleLaunchActions(const LaunchOptions& options, StatusPanel& statusPanel) {
    if (!options.openPanel) {
        return;
    }
    QTimer::singleShot(openDelayMs, &statusPanel, [&statusPanel] { statusPanel.open(); });
    if (options.snapshotPath.isEmpty()) {
        return;
    }
    QTimer::singleShot(snapshotDelayMs, &statusPanel, [&statusPanel, path = options.snapshotPath] {
        // An unattended check has nobody to show a dialog to: a line on stderr is all.
        if (!saveSnapshot(statusPanel.panel(), path)) {
            std::fprintf(stderr, "kova-connect: could not write the snapshot %s\n",
                         qPrintable(path));
        }
    });
}

}  // namespace kova::shell

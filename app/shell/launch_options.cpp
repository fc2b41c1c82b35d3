#include "app/shell/launch_options.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCommandLineParser>
#include <QImage>
#include <QLabel>
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

const QString openPanelOption = QStringLiteral("open-panel");
const QString snapshotOption = QStringLiteral("snapshot");
const QString snapshotDelayOption = QStringLiteral("snapshot-delay");

// What `widget` shows as text, in the order of its widget tree: a picture's description that
// scripts and checks can read without looking at pixels.
QString visibleTexts(const QWidget& widget) {
    QStringList texts;
    for (const QWidget* child : widget.findChildren<QWidget*>()) {
        if (!child->isVisibleTo(&widget)) {
            continue;
        }
        QString text;
        if (const auto* label = qobject_cast<const QLabel*>(child)) {
            text = label->text();
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(child)) {
            text = button->text();
        } else if (const auto* combo = qobject_cast<const QComboBox*>(child)) {
            text = combo->currentText();
        }
        if (!text.isEmpty()) {
            texts << text;
        }
    }
    return texts.join(QLatin1Char('\n'));
}

}  // namespace

void addLaunchOptions(QCommandLineParser& parser) {
    parser.addOption(
        QCommandLineOption(openPanelOption, QStringLiteral("Open the panel at launch.")));
    parser.addOption(QCommandLineOption(
        snapshotOption, QStringLiteral("Save a PNG picture of the panel 2 s after launch."),
        QStringLiteral("PATH")));
    parser.addOption(QCommandLineOption(
        snapshotDelayOption,
        QStringLiteral("Take the snapshot MS milliseconds after launch instead (at least 500)."),
        QStringLiteral("MS")));
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
    bool valid = false;
    const int delay = parser.value(snapshotDelayOption).toInt(&valid);
    if (valid && delay >= openDelayMs) {
        options.snapshotDelayMs = delay;
    }
    return options;
}

bool saveSnapshot(QWidget& widget, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    QImage picture = widget.grab().toImage();
    picture.setText(QStringLiteral("Description"), visibleTexts(widget));
    if (!picture.save(&file, "PNG")) {
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
    QTimer::singleShot(
        options.snapshotDelayMs, &statusPanel, [&statusPanel, path = options.snapshotPath] {
            // An unattended check has nobody to show a dialog to: a line on stderr is all.
            if (!saveSnapshot(statusPanel.panel(), path)) {
                std::fprintf(stderr, "kova-connect: could not write the snapshot %s\n",
                             qPrintable(path));
            }
        });
}

}  // namespace kova::shell

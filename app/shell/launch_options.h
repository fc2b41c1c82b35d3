// Unattended launch actions: open the panel, and save a picture of it.
#pragma once

#include <QString>

class QCommandLineParser;
class QSettings;
class QWidget;

namespace kova::shell {

class StatusPanel;

/// What the application does by itself after starting.
struct LaunchOptions {
    /// Open the panel 0.5 s after launch.
    bool openPanel = false;
    /// Save a PNG of the panel here 2 s after launch; empty for none.
    QString snapshotPath;
    /// When the snapshot is taken, in milliseconds after launch.
    int snapshotDelayMs = 2000;
};

/// Adds --open-panel, --snapshot PATH and --snapshot-delay MS to `parser`.
void addLaunchOptions(QCommandLineParser& parser);

/// The launch actions from "OpenPanelAtLaunch" and "SnapshotPanelTo" in `settings`, with
/// the command line's options on top; a snapshot asked for on the command line opens the panel.
LaunchOptions launchOptions(const QCommandLineParser& parser, const QSettings& settings);

/// Saves `widget`'s picture as PNG at `path`, replacing the file whole, with the texts it shows
/// as the picture's "Description"; false on failure.
bool saveSnapshot(QWidget& widget, const QString& path);

/// Arms the timers that carry out `options` on `statusPanel`.
void scheduleLaunchActions(const LaunchOptions& options, StatusPanel& statusPanel);

}  // namespace kova::shell

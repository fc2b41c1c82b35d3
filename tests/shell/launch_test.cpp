// The launch defaults, from the settings and from the command line, and the snapshot.
#include <QCommandLineParser>
#include <QLabel>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "app/shell/launch_options.h"
#include "app/shell/panel_window.h"

using namespace kova::shell;

namespace {

LaunchOptions optionsFrom(const QStringList& arguments, const QSettings& settings) {
    QCommandLineParser parser;
    addLaunchOptions(parser);
    if (!parser.parse(QStringList{QStringLiteral("kova-connect")} + arguments)) {
        qFatal("%s", qPrintable(parser.errorText()));
    }
    return launchOptions(parser, settings);
}

// Runs kova-connect with its settings under `configHome` until `snapshot` appears.
QImage runUntilSnapshot(const QString& configHome, const QStringList& arguments,
                        const QString& snapshot) {
    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(QStringLiteral(KOVA_CONNECT_PATH), arguments);
    if (!app.waitForStarted()) {
        return {};
    }
    QDeadlineTimer deadline(20000);
    while (!QFile::exists(snapshot) && app.state() == QProcess::Running && !deadline.hasExpired()) {
        QTest::qWait(50);
    }
    const bool stillRunning = app.state() == QProcess::Running;
    app.terminate();
    app.waitForFinished(5000);
    return stillRunning ? QImage(snapshot) : QImage();
}

}  // namespace

class LaunchTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void init() { QVERIFY(dir.isValid()); }

    void settingsOpenAndSnapshotAndTheCommandLineWins() {
        QSettings settings(dir.filePath(QStringLiteral("set.conf")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("OpenPanelAtLaunch"), true);
        settings.setValue(QStringLiteral("SnapshotPanelTo"), QStringLiteral("/tmp/x.png"));
        const LaunchOptions options = optionsFrom({}, settings);
        QVERIFY(options.openPanel);
        QCOMPARE(options.snapshotPath, QStringLiteral("/tmp/x.png"));

        settings.setValue(QStringLiteral("OpenPanelAtLaunch"), false);
        const LaunchOptions given =
            optionsFrom({QStringLiteral("--snapshot"), QStringLiteral("/tmp/y.png")}, settings);
        QVERIFY(given.openPanel);
        QCOMPARE(given.snapshotPath, QStringLiteral("/tmp/y.png"));
        QVERIFY(optionsFrom({QStringLiteral("--open-panel")}, settings).openPanel);
    }

    void defaultsAndTheSnapshotDelayFromTheCommandLine() {
        QSettings settings(dir.filePath(QStringLiteral("delay.conf")), QSettings::IniFormat);
        const auto delayFor = [&](const QString& value) {
            return optionsFrom({QStringLiteral("--snapshot-delay"), value}, settings)
                .snapshotDelayMs;
        };
        const LaunchOptions defaults = optionsFrom({}, settings);
        QVERIFY(!defaults.openPanel);
        QVERIFY(defaults.snapshotPath.isEmpty());
        QCOMPARE(defaults.snapshotDelayMs, 2000);
        QCOMPARE(delayFor(QStringLiteral("6000")), 6000);
        // Before the panel has opened there would be nothing to picture.
        QCOMPARE(delayFor(QStringLiteral("100")), 2000);
        QCOMPARE(delayFor(QStringLiteral("soon")), 2000);
    }

    void snapshotIsAPngOfThePanelOrFailsCleanly() {
        PanelWindow panel(PanelWindow::Mode::popup);
        auto* content = new QLabel(QStringLiteral("content"));
        content->setFixedHeight(150);
        panel.setContent(content);
        const QString path = dir.filePath(QStringLiteral("panel.png"));
        QVERIFY(saveSnapshot(panel, path));
        const QImage image(path, "PNG");
        QCOMPARE(image.size(), QSize(320, 150));
        QCOMPARE(image.text(QStringLiteral("Description")), QStringLiteral("content"));
        // The rounded corner is see-through, the middle is not.
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(160, 75)), 255);
        // An unwritable place fails cleanly.
        QVERIFY(!saveSnapshot(panel, dir.filePath(QStringLiteral("missing/panel.png"))));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("missing/panel.png"))));
    }

    void applicationWritesTheSnapshotFromTheCommandLine() {
        const QString snapshot = dir.filePath(QStringLiteral("cli.png"));
        const QImage image = runUntilSnapshot(
            dir.filePath(QStringLiteral("config-cli")),
            {QStringLiteral("--open-panel"), QStringLiteral("--snapshot"), snapshot}, snapshot);
        QCOMPARE(image.width(), 320);
        QVERIFY(image.height() > 100);
    }

    void applicationWritesTheSnapshotFromItsSettings() {
        const QString configHome = dir.filePath(QStringLiteral("config-settings"));
        const QString snapshot = dir.filePath(QStringLiteral("settings.png"));
        {
            QSettings settings(configHome + QStringLiteral("/KOVA/KOVA Connect.conf"),
                               QSettings::IniFormat);
            settings.setValue(QStringLiteral("OpenPanelAtLaunch"), true);
            settings.setValue(QStringLiteral("SnapshotPanelTo"), snapshot);
        }
        QCOMPARE(runUntilSnapshot(configHome, {}, snapshot).width(), 320);
    }

  private:
    QTemporaryDir dir;
};

QTEST_MAIN(LaunchTest)
#include "launch_test.moc"

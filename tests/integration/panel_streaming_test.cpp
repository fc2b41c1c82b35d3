// kova-connect as a user runs it, on Qt's offscreen platform, streaming a tone from a private
// audio server's KOVA sink to kova-phone posing as an iPhone; the snapshot's description holds
// the texts of the panel's widget tree.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "core/transport/ios_id.h"
#include "tests/support/phone_child.h"
#include "tests/support/pulse_server.h"
#include "tests/support/usbmux_socket_dir.h"

namespace {

constexpr const char* serial = "kova-panel-integration";

}  // namespace

class PanelStreamingTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void snapshotWhileStreamingShowsPlaying() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        kova::test::PulseServer pulse(48000);
        QVERIFY2(pulse.ready(), pulse.log().c_str());
        kova::test::SinePlayer tone(48000);  // half scale: the meter reads -6 dBFS
        kova::test::UsbmuxSocketDir socket;
        kova::test::PhoneChild phone(
            {"--usbmux", socket.path(), "--serial", serial, "--status-interval-ms", "100"});
        QCOMPARE(phone.line(), kova::ios_id(serial));

        // The environment now names the private audio server and usbmux socket.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                           dir.filePath(QStringLiteral("config")));
        const QString snapshot = dir.filePath(QStringLiteral("panel.png"));
        QProcess app;
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        // Later than the usual 2 s, so a busy machine has time to start streaming.
        app.start(QStringLiteral(KOVA_CONNECT_PATH),
                  {QStringLiteral("--snapshot"), snapshot, QStringLiteral("--snapshot-delay"),
                   QStringLiteral("6000")});
        QVERIFY(app.waitForStarted());
        QDeadlineTimer deadline(60000);
        while (!QFile::exists(snapshot) && app.state() == QProcess::Running &&
               !deadline.hasExpired()) {
            QTest::qWait(100);
        }
        const bool running = app.state() == QProcess::Running;
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
        QVERIFY(running);

        const QImage picture(snapshot, "PNG");
        QCOMPARE(picture.width(), 320);
        const QStringList texts =
            picture.text(QStringLiteral("Description")).split(QLatin1Char('\n'));
        QVERIFY2(texts.contains(QStringLiteral("Playing on the phone")),
                 qPrintable(texts.join(QStringLiteral(" | "))));
        QVERIFY(texts.contains(QStringLiteral("Stop")));
        QVERIFY(texts.contains(QStringLiteral("-6 dBFS")));
        QVERIFY(texts.contains(QStringLiteral("iPhone or iPad (iOS) · paired")));
    }
};

QTEST_GUILESS_MAIN(PanelStreamingTest)
#include "panel_streaming_test.moc"

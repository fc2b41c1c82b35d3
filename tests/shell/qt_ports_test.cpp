// The model's ports on Qt: the main queue on the event loop and the settings on QSettings.
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <thread>

#include "app/shell/ports/qt_main_queue.h"
#include "app/shell/ports/qt_settings.h"

using namespace kova;
using namespace kova::shell;
using namespace std::chrono_literals;

class QtPortsTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void postedWorkRunsOnTheMainThreadInOrder() {
        QtMainQueue queue;
        std::vector<int> order;
        std::vector<bool> onMainThread;
        std::thread poster([&] {
            for (int index = 0; index < 50; ++index) {
                queue.post([&, index] {
                    order.push_back(index);
                    onMainThread.push_back(QThread::currentThread() == qApp->thread());
                });
            }
        });
        poster.join();
        QVERIFY(order.empty());  // nothing runs outside the event loop
        QTRY_COMPARE(order.size(), std::size_t(50));
        QVERIFY(std::is_sorted(order.begin(), order.end()));
        QVERIFY(std::all_of(onMainThread.begin(), onMainThread.end(), [](bool on) { return on; }));
    }

    void delayedWorkRunsOnceAfterItsDelay() {
        QtMainQueue queue;
        QElapsedTimer clock;
        clock.start();
        qint64 ranAfter = -1;
        int runs = 0;
        queue.postAfter(120ms, [&] {
            ranAfter = clock.elapsed();
            ++runs;
        });
        QCOMPARE(queue.pendingTimers(), std::size_t(1));
        QTRY_COMPARE(runs, 1);
        QVERIFY(ranAfter >= 120);
        QTest::qWait(200);
        QCOMPARE(runs, 1);
        QCOMPARE(queue.pendingTimers(), std::size_t(0));
    }

    void cancelledWorkNeverRuns() {
        QtMainQueue queue;
        bool cancelledRan = false;
        bool keptRan = false;
        const auto cancelled = queue.postAfter(30ms, [&] { cancelledRan = true; });
        queue.postAfter(60ms, [&] { keptRan = true; });
        queue.cancel(cancelled);
        queue.cancel(cancelled);  // twice, and an unknown one: both ignored
        queue.cancel(12345);
        QTRY_VERIFY(keptRan);
        QVERIFY(!cancelledRan);
    }

    void delayedWorkMayCancelAndRearm() {
        QtMainQueue queue;
        MainQueue::Deferred second = 0;
        bool secondRan = false;
        int rearmedRuns = 0;
        queue.postAfter(10ms, [&] {
            queue.cancel(second);
            queue.postAfter(10ms, [&] { ++rearmedRuns; });
        });
        second = queue.postAfter(50ms, [&] { secondRan = true; });
        QTRY_COMPARE(rearmedRuns, 1);
        QTest::qWait(80);
        QVERIFY(!secondRan);
    }

    void settingsKeepTheirKindsAcrossRestartsAndMayBeReplacedOrRemoved() {
        const QString path = dir.filePath(QStringLiteral("kinds.conf"));
        {
            QtSettings settings(path);
            settings.setValue("autoStart", false);
            settings.setValue("devicePath", std::string("usb:1-4"));
            settings.setValue("pairedPhones", std::vector<std::string>{"abc"});
            settings.setValue("two", std::vector<std::string>{"a, b", "c"});
            settings.setValue("none", std::vector<std::string>{});
        }
        QtSettings settings(path);
        QCOMPARE(std::get<bool>(*settings.value("autoStart")), false);
        QCOMPARE(std::get<std::string>(*settings.value("devicePath")), std::string("usb:1-4"));
        QCOMPARE(std::get<std::vector<std::string>>(*settings.value("pairedPhones")),
                 std::vector<std::string>{"abc"});
        QCOMPARE(std::get<std::vector<std::string>>(*settings.value("two")),
                 (std::vector<std::string>{"a, b", "c"}));
        QVERIFY(std::get<std::vector<std::string>>(*settings.value("none")).empty());
        QVERIFY(!settings.value("missing"));
        // Replacing a value changes its kind; removing it twice is harmless.
        settings.setValue("key", std::vector<std::string>{"a", "b"});
        settings.setValue("key", std::string("text"));
        QCOMPARE(std::get<std::string>(*settings.value("key")), std::string("text"));
        settings.setValue("key", std::vector<std::string>{"a"});
        settings.remove("key");
        QVERIFY(!settings.value("key"));
        settings.remove("key");
        // Hand-written booleans read as booleans.
        QFile file(dir.filePath(QStringLiteral("hand.conf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\nOpenPanelAtLaunch=true\nautoStart=false\nname=KOVA\n");
        file.close();
        QtSettings hand(file.fileName());
        QCOMPARE(std::get<bool>(*hand.value("OpenPanelAtLaunch")), true);
        QCOMPARE(std::get<bool>(*hand.value("autoStart")), false);
        QCOMPARE(std::get<std::string>(*hand.value("name")), std::string("KOVA"));
    }

  private:
    QTemporaryDir dir;
};

QTEST_MAIN(QtPortsTest)
#include "qt_ports_test.moc"

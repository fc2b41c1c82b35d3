// Where the panel opens relative to the tray icon and the screen's edges.
#include <QtTest>

#include "app/shell/placement.h"

using namespace kova::shell;

namespace {

// A 1920 × 1080 screen whose top 30 points are the panel bar.
const QRect topBarScreen(0, 30, 1920, 1050);
// The same screen with the bar at the bottom.
const QRect bottomBarScreen(0, 0, 1920, 1050);
const QSize panel(320, 300);
const QPoint nowhere(-1, -1);

QRect iconAt(int x, int y) {
    return QRect(x, y, 24, 24);
}

}  // namespace

class PlacementTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void corner_data() {
        QTest::addColumn<QRect>("icon");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QPoint>("corner");
        const int below = 3 + 24 + iconGap;
        QTest::newRow("centred under the icon")
            << iconAt(1000, 3) << topBarScreen << nowhere << QPoint(1000 + 12 - 160, below);
        QTest::newRow("margin from the right edge") << iconAt(1900, 3) << topBarScreen << nowhere
                                                    << QPoint(1920 - screenMargin - 320, below);
        QTest::newRow("margin from the left edge")
            << iconAt(2, 3) << topBarScreen << nowhere << QPoint(screenMargin, below);
        QTest::newRow("screen not at zero") << iconAt(1925, 3) << QRect(1920, 30, 1280, 994)
                                            << nowhere << QPoint(1920 + screenMargin, below);
        QTest::newRow("too wide: right edge wins")
            << iconAt(150, 3) << QRect(0, 30, 300, 1050) << nowhere
            << QPoint(300 - screenMargin - 320, below);
        QTest::newRow("above a bottom tray") << iconAt(1700, 1053) << bottomBarScreen << nowhere
                                             << QPoint(1700 + 12 - 160, 1053 - iconGap - 300);
        QTest::newRow("taller than the screen keeps its top")
            << iconAt(500, 3) << QRect(0, 30, 1920, 200) << nowhere
            << QPoint(500 + 12 - 160, 30 + screenMargin);
        QTest::newRow("no geometry: at the pointer")
            << QRect() << topBarScreen << QPoint(800, 5) << QPoint(800 - 160, 5 + iconGap);
        QTest::newRow("pointer near the corner")
            << QRect() << bottomBarScreen << QPoint(1915, 1045)
            << QPoint(1920 - screenMargin - 320, 1045 - iconGap - 300);
        QTest::newRow("pointer near the left")
            << QRect() << topBarScreen << QPoint(3, 40) << QPoint(screenMargin, 40 + iconGap);
    }
    void corner() {
        QFETCH(QRect, icon);
        QFETCH(QRect, screen);
        QFETCH(QPoint, pointer);
        QFETCH(QPoint, corner);
        QCOMPARE(place(icon, screen, panel, pointer), corner);
    }

    void staysInsideWhenNeitherSideHasRoom() {
        const QRect shortScreen(0, 0, 1920, 400);
        const QPoint corner = place(iconAt(500, 190), shortScreen, panel, nowhere);
        QVERIFY(corner.y() >= screenMargin);
        QVERIFY(corner.y() + panel.height() <= 400 - screenMargin);
    }
};

QTEST_MAIN(PlacementTest)
#include "placement_test.moc"

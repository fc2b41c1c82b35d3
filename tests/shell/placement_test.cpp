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
    void centredUnderTheIcon() {
        const QPoint corner = place(iconAt(1000, 3), topBarScreen, panel, nowhere);
        QCOMPARE(corner.x() + panel.width() / 2, 1000 + 12);
        QCOMPARE(corner.y(), 3 + 24 + iconGap);
    }

    void keepsEightPointsFromTheRightEdge() {
        const QPoint corner = place(iconAt(1900, 3), topBarScreen, panel, nowhere);
        QCOMPARE(corner.x() + panel.width(), 1920 - screenMargin);
    }

    void keepsEightPointsFromTheLeftEdge() {
        const QPoint corner = place(iconAt(2, 3), topBarScreen, panel, nowhere);
        QCOMPARE(corner.x(), screenMargin);
    }

    void followsAScreenThatDoesNotStartAtZero() {
        const QRect secondScreen(1920, 30, 1280, 994);
        const QPoint corner = place(iconAt(1925, 3), secondScreen, panel, nowhere);
        QCOMPARE(corner.x(), 1920 + screenMargin);
    }

    void rightEdgeWinsWhenThePanelIsTooWide() {
        const QRect narrow(0, 30, 300, 1050);
        const QPoint corner = place(iconAt(150, 3), narrow, panel, nowhere);
        QCOMPARE(corner.x() + panel.width(), 300 - screenMargin);
    }

    void opensAboveABottomTray() {
        const QRect icon = iconAt(1700, 1053);
        const QPoint corner = place(icon, bottomBarScreen, panel, nowhere);
        QCOMPARE(corner.y() + panel.height() + iconGap, icon.y());
        QCOMPARE(corner.x() + panel.width() / 2, 1700 + 12);
    }

    void staysInsideWhenNeitherSideHasRoom() {
        const QRect shortScreen(0, 0, 1920, 400);
        const QPoint corner = place(iconAt(500, 190), shortScreen, panel, nowhere);
        QVERIFY(corner.y() >= screenMargin);
        QVERIFY(corner.y() + panel.height() <= 400 - screenMargin);
    }

    void tallerThanTheScreenKeepsItsTopVisible() {
        const QRect tiny(0, 30, 1920, 200);
        QCOMPARE(place(iconAt(500, 3), tiny, panel, nowhere).y(), 30 + screenMargin);
    }

    void withoutGeometryOpensAtThePointer() {
        const QPoint pointer(800, 5);
        const QPoint corner = place(QRect(), topBarScreen, panel, pointer);
        QCOMPARE(corner, QPoint(800 - panel.width() / 2, 5 + iconGap));
    }

    void pointerPlacementKeepsTheMargins() {
        const QPoint nearCorner = place(QRect(), bottomBarScreen, panel, QPoint(1915, 1045));
        QCOMPARE(nearCorner.x() + panel.width(), 1920 - screenMargin);
        QCOMPARE(nearCorner.y() + panel.height() + iconGap, 1045);
        const QPoint nearLeft = place(QRect(), topBarScreen, panel, QPoint(3, 40));
        QCOMPARE(nearLeft.x(), screenMargin);
    }
};

QTEST_MAIN(PlacementTest)
#include "placement_test.moc"

// Opening, closing and placing the panel, with and without a tray.
#include <QLabel>
#include <QScreen>
#include <QtTest>

#include "app/shell/placement.h"
#include "app/shell/status_panel.h"

using namespace kova::shell;

namespace {

QWidget* contentOfHeight(int height) {
    auto* content = new QLabel(QStringLiteral("content"));
    content->setFixedHeight(height);
    return content;
}

struct Counts {
    int openings = 0;
    GlyphState state = GlyphState::idle;
};

// A status panel whose hooks count the openings and answer `state`, showing content of
// `height`.
struct Rig : Counts, StatusPanel {
    Rig(bool tray, int height)
        : StatusPanel(tray, {[this] { return state; }, [this] { ++openings; }}) {
        panel().setContent(contentOfHeight(height));
    }
};

}  // namespace

class StatusPanelTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void withoutTrayThePanelIsAnOrdinaryWindow() {
        Rig status(false, 200);
        QVERIFY(!status.hasTray());
        QVERIFY(!status.panel().windowFlags().testFlag(Qt::FramelessWindowHint));
        status.open();
        QVERIFY(status.panel().isVisible());
        QCOMPARE(status.panel().size(), QSize(320, 200));
        QCOMPARE(status.openings, 1);
    }

    void popupIsFramelessSizedToItsContentAndOpensNearThePointerInsideTheScreen() {
        Rig status(true, 260);
        QVERIFY(status.panel().windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(status.panel().panelSize(), QSize(320, 260));
        status.panel().setContent(contentOfHeight(180));
        QCOMPARE(status.panel().panelSize(), QSize(320, 180));
        // Without tray geometry it opens at the pointer, kept inside the screen.
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QCursor::setPos(available.right() - 2, available.top() + 2);
        status.open();
        const QRect frame = status.panel().geometry();
        QVERIFY(frame.left() >= available.left() + screenMargin);
        QCOMPARE(frame.left() + frame.width(), available.left() + available.width() - screenMargin);
        QCOMPARE(frame.width(), 320);
        QVERIFY(frame.top() >= available.top());
        status.close();
    }

    void toggleOpensAndCloses() {
        Rig status(true, 100);
        status.toggle();
        QVERIFY(status.panel().isVisible());
        status.toggle();
        QVERIFY(!status.panel().isVisible());
        QCOMPARE(status.openings, 1);
    }

    void theClickThatDismissedThePopupDoesNotReopenIt() {
        Rig status(true, 100);
        status.open();
        status.panel().hide();  // what an outside click on the icon does first
        status.toggle();        // then the icon's own activation arrives
        QVERIFY(!status.panel().isVisible());
        QTest::qWait(400);
        status.toggle();
        QVERIFY(status.panel().isVisible());
    }

    void closingAHiddenPanelDoesNothing() {
        Rig status(true, 100);
        QSignalSpy hidden(&status.panel(), &PanelWindow::hidden);
        status.close();
        status.close();
        QCOMPARE(hidden.count(), 0);
        status.open();
        status.close();
        status.close();
        QCOMPARE(hidden.count(), 1);
    }

    void modelChangesReplaceAVisiblePanel() {
        Rig status(true, 100);
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint pointer(available.center().x(), available.bottom() - 2);
        QCursor::setPos(pointer);
        status.open();
        QCOMPARE(status.panel().geometry().bottom() + 1 + iconGap, QCursor::pos().y());
        status.panel().setContent(contentOfHeight(240));
        status.state = GlyphState::streaming;
        status.modelChanged();
        QCOMPARE(status.panel().height(), 240);
        QCOMPARE(status.panel().geometry().bottom() + 1 + iconGap, QCursor::pos().y());
        QCOMPARE(status.openings, 1);
    }
};

QTEST_MAIN(StatusPanelTest)
#include "status_panel_test.moc"

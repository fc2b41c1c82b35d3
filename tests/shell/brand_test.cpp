// The brand constants and the tray glyph's drawing.
#include <QApplication>
#include <QLabel>
#include <QLineF>
#include <QtTest>
#include <cmath>
#include <functional>

#include "app/shell/brand.h"
#include "app/shell/panel_parts.h"

using namespace kova::shell;

namespace {

constexpr qreal ratio = 4.0;
const QColor ink(200, 30, 60);

// Glyph coordinates (origin bottom left, y up) of the centre of image pixel (x, y).
QPointF glyphPoint(int x, int y) {
    return QPointF((x + 0.5) / ratio, Brand::glyphHeight - (y + 0.5) / ratio);
}

int alphaAt(const QImage& image, qreal gx, qreal gy) {
    return qAlpha(image.pixel(int(gx * ratio), int((Brand::glyphHeight - gy) * ratio)));
}

qreal distanceFromCentre(const QPointF& p) {
    return QLineF(p, QPointF(8, 9)).length();
}

qreal distanceFromSlash(const QPointF& p) {
    const QPointF a(2.2, 15.8), b(13.8, 2.2);
    const QPointF ab = b - a;
    const qreal t =
        std::clamp(QPointF::dotProduct(p - a, ab) / QPointF::dotProduct(ab, ab), 0.0, 1.0);
    return QLineF(p, a + t * ab).length();
}

// Glyph points where the two images differ by more than anti-aliasing noise.
QList<QPointF> differences(const QImage& one, const QImage& other) {
    QList<QPointF> points;
    for (int y = 0; y < one.height(); ++y) {
        for (int x = 0; x < one.width(); ++x) {
            if (std::abs(qAlpha(one.pixel(x, y)) - qAlpha(other.pixel(x, y))) > 8) {
                points.append(glyphPoint(x, y));
            }
        }
    }
    return points;
}

bool allOf(const QList<QPointF>& points, const std::function<bool(const QPointF&)>& rule) {
    return std::all_of(points.begin(), points.end(), rule);
}

int inkRightOf(const QImage& image, qreal gx) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = int(gx * ratio); x < image.width(); ++x) {
            count += qAlpha(image.pixel(x, y)) > 0;
        }
    }
    return count;
}

}  // namespace

class BrandTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void versionComesFromTheBuild() {
        QCOMPARE(Brand::version(), QStringLiteral(KOVA_EXPECTED_VERSION));
    }

    void betaRule() {
        // 0.9.1, dev and 1.2.0 are read in the panel's footer.
        QVERIFY(Brand::isBeta(QString()));
        QVERIFY(!Brand::isBeta(QStringLiteral("10.0")));
    }

    void wordmarkShipsAsAResourceAndTheHeaderFallsBackToText() {
        const QPixmap wordmark = Brand::wordmark();
        QVERIFY(!wordmark.isNull());
        QVERIFY(wordmark.width() > 2 * wordmark.height());
        QVERIFY(Brand::loadWordmark(QStringLiteral(":/brand/missing.png")).isNull());
        // Without it the header shows the name as text.
        std::unique_ptr<QWidget> header(makeHeader(QPixmap(), Qt::gray, QStringLiteral("Idle")));
        auto* mark = header->findChild<QLabel*>(part::wordmark);
        QVERIFY(mark);
        QCOMPARE(mark->text(), QStringLiteral("KOVA"));
        std::unique_ptr<QWidget> shipped(makeHeader(Brand::wordmark(), Qt::gray, QString()));
        auto* image = shipped->findChild<QLabel*>(part::wordmark);
        QVERIFY(image && !image->pixmap().isNull());
        QCOMPARE(image->accessibleName(), QStringLiteral("KOVA"));
    }

    void glyphHasTheSizeOfTheDesign() {
        for (qreal r : {1.0, 2.0, 1.5}) {
            const QImage image = Brand::glyph(GlyphState::idle, r, ink);
            QCOMPARE(image.deviceIndependentSize(), QSizeF(20, 18));
            QCOMPARE(image.devicePixelRatio(), r);
        }
    }

    void centreIsFilledInTheGivenColourOnlyWhileStreaming() {
        // Inside the centre disc, on either side of where the error slash crosses it.
        for (const QPointF& p : {QPointF(8.99, 9.84), QPointF(7.01, 8.16)}) {
            QCOMPARE(alphaAt(Brand::glyph(GlyphState::streaming, ratio, ink), p.x(), p.y()), 255);
            QCOMPARE(alphaAt(Brand::glyph(GlyphState::idle, ratio, ink), p.x(), p.y()), 0);
            QCOMPARE(alphaAt(Brand::glyph(GlyphState::error, ratio, ink), p.x(), p.y()), 0);
        }
        // Drawn in the given colour.
        const QColor centre = Brand::glyph(GlyphState::streaming, ratio, ink)
                                  .pixelColor(int(8 * ratio), int(9 * ratio));
        QCOMPARE(centre.alpha(), 255);
        QCOMPARE(centre.rgb(), ink.rgb());
        // Every call draws a fresh image.
        QImage first = Brand::glyph(GlyphState::idle, ratio, ink);
        first.fill(Qt::black);
        QCOMPARE(alphaAt(Brand::glyph(GlyphState::idle, ratio, ink), 8, 9), 0);
        // The edge of the centre is drawn in all three.
        for (auto state : {GlyphState::idle, GlyphState::streaming, GlyphState::error}) {
            QVERIFY(alphaAt(Brand::glyph(state, ratio, ink), 8 + 2.3, 9) > 128);
        }
    }

    void arcRightOfTheRingsOnlyWhileStreaming() {
        // The outer ring's stroke ends at 15.3 + 0.7.
        const qreal beyondRings = 16.3;
        QCOMPARE(inkRightOf(Brand::glyph(GlyphState::idle, ratio, ink), beyondRings), 0);
        QCOMPARE(inkRightOf(Brand::glyph(GlyphState::error, ratio, ink), beyondRings), 0);
        const QImage streaming = Brand::glyph(GlyphState::streaming, ratio, ink);
        QVERIFY(inkRightOf(streaming, beyondRings) > 0);
        QVERIFY(alphaAt(streaming, 18.6 - 0.3, 9) > 128);
        QCOMPARE(inkRightOf(streaming, 18.6 + 0.7), 0);
    }

    void slashOnlyOnError() {
        const QImage idle = Brand::glyph(GlyphState::idle, ratio, ink);
        const QList<QPointF> slash = differences(idle, Brand::glyph(GlyphState::error, ratio, ink));
        QVERIFY(slash.size() > 40);
        QVERIFY(allOf(slash, [](const QPointF& p) { return distanceFromSlash(p) < 0.7 + 0.4; }));
        QVERIFY(alphaAt(Brand::glyph(GlyphState::error, ratio, ink), 5.68, 11.72) > 128);
        QCOMPARE(alphaAt(idle, 5.68, 11.72), 0);
    }

    void streamingDiffersOnlyInCentreAndArc() {
        const QList<QPointF> changed = differences(Brand::glyph(GlyphState::idle, ratio, ink),
                                                   Brand::glyph(GlyphState::streaming, ratio, ink));
        QVERIFY(!changed.isEmpty());
        QVERIFY(allOf(changed, [](const QPointF& p) {
            const qreal d = distanceFromCentre(p);
            const bool centre = d < 2.6 + 0.5 + 0.3;
            const bool arc = std::abs(d - 10.6) < 0.65 + 0.4 && p.x() > 8;
            return centre || arc;
        }));
    }

    void applicationIconIsSquareAndAccentTinted() {
        const QIcon icon = Brand::applicationIcon();
        const QImage image = icon.pixmap(QSize(64, 64)).toImage();
        QCOMPARE(image.size(), QSize(64, 64));
        QCOMPARE(image.pixelColor(6, 32).rgb(), Brand::accent().rgb());
    }
};

QTEST_MAIN(BrandTest)
#include "brand_test.moc"

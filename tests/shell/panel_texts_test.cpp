// The panel's derived texts and colours as a user reads them.
#include <QtTest>

#include "app/shell/brand.h"
#include "app/shell/panel_texts.h"

using namespace kova::shell;

class PanelTextsTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void outputRow() {
        QCOMPARE(outputDescription(std::nullopt), QStringLiteral("KOVA"));
        QCOMPARE(outputDescription(48000), QStringLiteral("KOVA · 48 kHz"));
        QCOMPARE(outputDescription(44100), QStringLiteral("KOVA · 44.1 kHz → 48 kHz"));
        QCOMPARE(outputDescription(96000), QStringLiteral("KOVA · 96 kHz → 48 kHz"));
        QCOMPARE(outputDescription(88200), QStringLiteral("KOVA · 88.2 kHz → 48 kHz"));
    }

    void inputLevel() {
        QCOMPARE(inputLevelText(std::nullopt), QStringLiteral("–"));
        QCOMPARE(inputLevelText(0.0), QStringLiteral("silence"));
        QCOMPARE(inputLevelText(0.00009), QStringLiteral("silence"));
        QCOMPARE(inputLevelText(0.5), QStringLiteral("-6 dBFS"));
        QCOMPARE(inputLevelText(0.001), QStringLiteral("-60 dBFS"));
        QCOMPARE(inputLevelText(1.0), QStringLiteral("0 dBFS"));
        // Just under full scale rounds to 0, never to "-0".
        QCOMPARE(inputLevelText(0.99999), QStringLiteral("0 dBFS"));
    }

    void bufferAndUnderruns() {
        QCOMPARE(bufferText(42.6), QStringLiteral("43 ms"));
        QCOMPARE(bufferText(42.4), QStringLiteral("42 ms"));
        QCOMPARE(bufferText(std::nullopt), QStringLiteral("–"));
        QCOMPARE(underrunsText(0), QStringLiteral("0"));
        QCOMPARE(underrunsText(1234), QStringLiteral("1234"));
        QCOMPARE(underrunsText(std::nullopt), QStringLiteral("–"));
    }

    void stateDotColour() {
        QCOMPARE(stateColor(true, false, false), Brand::accent());
        QCOMPARE(stateColor(true, true, false), Brand::accent());
        QCOMPARE(stateColor(false, true, false), errorColor());
        QCOMPARE(stateColor(false, true, true), errorColor());
        QCOMPARE(stateColor(false, false, true), secondaryColor());
        QCOMPARE(stateColor(false, false, false), connectingColor());
        QVERIFY(errorColor() != connectingColor() && secondaryColor() != Brand::accent());
    }
};

QTEST_MAIN(PanelTextsTest)
#include "panel_texts_test.moc"

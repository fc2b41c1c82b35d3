// The panel as a user sees it, driven by the controller model over the scripted library.
#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

#include "app/shell/brand.h"
#include "app/shell/panel_parts.h"
#include "app/shell/panel_texts.h"
#include "app/shell/panel_view.h"
#include "app/shell/shell_app.h"
#include "tests/model/doubles/model_parts.h"

using namespace kova;
using namespace kova::shell;
using namespace std::chrono_literals;

namespace {

const std::string phonePath = "usb:1-4";

// The model on the test doubles and virtual time, with a panel showing it.
struct Rig : test::ModelParts {
    std::unique_ptr<PanelView> view;

    // Builds the model and the view and lets the start-up timers run.
    PanelView& make(const QString& version = QStringLiteral("1.0.0")) {
        ModelParts::make();
        view = std::make_unique<PanelView>(model, Brand::wordmark(), version);
        queue->advance(1s);
        settle();
        return *view;
    }

    // The same with one Android phone listed.
    PanelView& makeWithPhone() {
        library->setPhones({test::androidPhone(phonePath, "Acme", "Pixie 7", "SER1")});
        return make();
    }

    // Lets the view catch up with the model's changes.
    void settle() { QCoreApplication::processEvents(); }

    void event(const std::string& json) {
        library->emit(json);
        queue->runReady();
        settle();
    }

    void status(double peak, double bufferMs, int underruns) {
        event(test::statusEvent(
            {{"state", "Playing"}, {"occupancyMean", bufferMs * 48.0}, {"underruns", underruns}},
            peak, 48000.0));
    }

    template <typename T>
    T* find(const char* name) const {
        return view->findChild<T*>(QString::fromLatin1(name));
    }
    QString textOf(const char* name) const {
        const auto* label = find<QLabel>(name);
        return label ? label->text() : QStringLiteral("<missing>");
    }
    QPushButton& mainButton() const { return *find<QPushButton>(row::mainButton); }
    QColor dot() const { return find<StateDot>(part::stateDot)->colour(); }

    // Chooses the listed phone in the picker and presses Start, as a user does.
    void chooseAndStart() {
        QComboBox* picker = find<QComboBox>(row::phonePicker);
        picker->setCurrentIndex(1);
        Q_EMIT picker->activated(1);
        settle();
        QTest::mouseClick(&mainButton(), Qt::LeftButton);
        queue->runReady();
        settle();
    }
};

QColor textColour(const QWidget& widget) {
    return widget.palette().color(QPalette::WindowText);
}

}  // namespace

class PanelViewTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void idleWithoutPhoneAndTheSwitches() {
        Rig rig;
        rig.make();
        auto* picker = rig.find<QComboBox>(row::phonePicker);
        QCOMPARE(picker->currentText(), QStringLiteral("Choose…"));
        QCOMPARE(picker->count(), 1);
        QCOMPARE(rig.mainButton().text(), QStringLiteral("Start"));
        QVERIFY(!rig.mainButton().isEnabled());
        QVERIFY(rig.find<QWidget>(row::phoneRow)->isEnabled());
        QVERIFY(!rig.find<QWidget>(row::statistics));
        QVERIFY(!rig.find<QLabel>(row::error));
        QCOMPARE(rig.dot(), secondaryColor());
        QCOMPARE(rig.textOf(part::stateText), QString::fromStdString(rig.model->stateText()));

        // The switches follow the model.
        auto* autoStart = rig.find<QAbstractButton>(row::autoStart);
        QVERIFY(autoStart->isChecked());
        autoStart->click();
        rig.settle();
        QCOMPARE(std::get<bool>(*rig.settings->value("autoStart")), false);
        QVERIFY(!rig.find<QAbstractButton>(row::autoStart)->isChecked());

        // The first launch registered the login item; a failing change keeps the real state.
        QVERIFY(rig.find<QAbstractButton>(row::launchAtLogin)->isChecked());
        rig.loginItem->failure = "Permission denied";
        rig.find<QAbstractButton>(row::launchAtLogin)->click();
        rig.settle();
        QVERIFY(rig.find<QAbstractButton>(row::launchAtLogin)->isChecked());
        QVERIFY(rig.textOf(row::error).startsWith(QStringLiteral("Could not set login item: ")));
        rig.loginItem->failure.reset();
        rig.find<QAbstractButton>(row::launchAtLogin)->click();
        rig.settle();
        QVERIFY(!rig.find<QAbstractButton>(row::launchAtLogin)->isChecked());
        QVERIFY(!rig.loginItem->enabled);
    }

    void pickerListsThePhonesAndRefreshes() {
        Rig rig;
        rig.makeWithPhone();
        auto* picker = rig.find<QComboBox>(row::phonePicker);
        QCOMPARE(picker->count(), 2);
        QCOMPARE(picker->itemText(1), QString::fromStdString(rig.model->devices()[0].label()));
        QCOMPARE(rig.find<QToolButton>(row::refresh)->toolTip(),
                 QStringLiteral("Refresh the USB list"));
        const int listed = rig.library->listCalls;
        rig.find<QToolButton>(row::refresh)->click();
        QCOMPARE(rig.library->listCalls, listed + 1);
        rig.library->setPhones({});
        rig.find<QToolButton>(row::refresh)->click();
        rig.settle();
        QCOMPARE(rig.find<QComboBox>(row::phonePicker)->count(), 1);
    }

    void outputRow() {
        Rig converted;
        converted.library->sampleRate = 44100.0;
        converted.make();
        QCOMPARE(converted.textOf(row::output), QStringLiteral("KOVA · 44.1 kHz → 48 kHz"));
        QVERIFY(textColour(*converted.find<QLabel>(row::output)) != errorColor());
        Rig missing;
        missing.library->present = false;
        missing.library->sampleRate = 0.0;
        missing.make();
        QCOMPARE(missing.textOf(row::output), QStringLiteral("KOVA device not installed"));
        QCOMPARE(textColour(*missing.find<QLabel>(row::output)), errorColor());
    }

    void aSessionAsTheUserSeesIt() {
        Rig rig;
        PanelView& view = rig.makeWithPhone();
        rig.chooseAndStart();
        QCOMPARE(rig.library->sessions.size(), std::size_t(1));
        QCOMPARE(rig.mainButton().text(), QStringLiteral("Stop"));
        QVERIFY(rig.mainButton().isEnabled());
        QVERIFY(!rig.find<QWidget>(row::phoneRow)->isEnabled());
        QVERIFY(!rig.find<QToolButton>(row::refresh)->isEnabled());
        QCOMPARE(rig.dot(), connectingColor());
        QVERIFY(!rig.find<QWidget>(row::statistics));

        rig.event(test::stateEvent("Streaming"));
        QCOMPARE(rig.dot(), Brand::accent());
        QCOMPARE(glyphFor(rig.model->glyphState()), shell::GlyphState::streaming);
        const int before = view.sizeHint().height();
        QSignalSpy rebuilt(&view, &PanelView::rebuilt);
        rig.status(0.0, 42.6, 0);
        QVERIFY(rig.find<QWidget>(row::statistics));
        // The rows that appear make the panel taller; each fits the column unsqueezed.
        QVERIFY(rebuilt.count() >= 1);
        QVERIFY(view.sizeHint().height() > before);
        QVERIFY(view.sizeHint().width() <= 320);
        QCOMPARE(view.width(), 320);
        QCOMPARE(rig.textOf(row::inputLevel), QStringLiteral("silence"));
        QCOMPARE(rig.textOf(row::phoneBuffer), QStringLiteral("43 ms"));
        QCOMPARE(rig.textOf(row::underruns), QStringLiteral("0"));
        rig.status(0.5, 40.0, 3);
        QCOMPARE(rig.textOf(row::inputLevel), QStringLiteral("-6 dBFS"));
        QCOMPARE(rig.textOf(row::underruns), QStringLiteral("3"));
        QCOMPARE(rig.textOf(part::stateText), QString::fromStdString(rig.model->stateText()));

        QTest::mouseClick(&rig.mainButton(), Qt::LeftButton);
        rig.settle();
        QCOMPARE(rig.model->phase(), Phase::stopping);
        QCOMPARE(rig.mainButton().text(), QStringLiteral("Stop"));
        QVERIFY(!rig.mainButton().isEnabled());
        QCOMPARE(rig.library->last().stops, 1);

        rig.event(test::endedEvent(0));
        QCOMPARE(rig.mainButton().text(), QStringLiteral("Start"));
        QVERIFY(rig.find<QWidget>(row::phoneRow)->isEnabled());

        // Errors show in red and wrap.
        rig.chooseAndStart();
        rig.event(test::endedEvent(1, "hello_timeout"));
        rig.queue->advance(1s);
        rig.settle();
        QVERIFY(rig.model->errorText().has_value());
        auto* error = rig.find<QLabel>(row::error);
        QVERIFY(error);
        QCOMPARE(error->text(), QString::fromStdString(*rig.model->errorText()));
        QCOMPARE(textColour(*error), errorColor());
        QVERIFY(error->wordWrap());
        QCOMPARE(rig.dot(), errorColor());
        QCOMPARE(glyphFor(rig.model->glyphState()), shell::GlyphState::error);
    }

    void returnPressesTheMainButton() {
        Rig rig;
        PanelView& view = rig.makeWithPhone();
        QComboBox* picker = rig.find<QComboBox>(row::phonePicker);
        Q_EMIT picker->activated(1);
        rig.settle();
        QVERIFY(rig.mainButton().isEnabled());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.activateWindow();
        QTest::keyClick(&view, Qt::Key_Return);
        rig.queue->runReady();
        QCOMPARE(rig.library->sessions.size(), std::size_t(1));
    }

    void versionInTheFooter() {
        for (const auto& [version, shown] :
             {std::pair{"0.9.1", "v0.9.1 beta"}, std::pair{"dev", "vdev beta"},
              std::pair{"1.2.0", "v1.2.0"}}) {
            Rig rig;
            rig.make(QString::fromLatin1(version));
            QCOMPARE(rig.textOf(part::version), QString::fromLatin1(shown));
        }
    }
};

QTEST_MAIN(PanelViewTest)
#include "panel_view_test.moc"

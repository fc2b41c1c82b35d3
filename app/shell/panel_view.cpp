#include "app/shell/panel_view.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/shell/panel_parts.h"
#include "app/shell/panel_texts.h"
#include "app/shell/toggle_switch.h"

namespace kova::shell {
namespace {

constexpr int panelPadding = 14;
constexpr int blockSpacing = 12;
constexpr qreal captionSize = 10;
constexpr qreal calloutSize = 12;
constexpr int largeButtonHeight = 30;

const QString refreshHelp = QStringLiteral("Refresh the USB list");
const QString autoStartText = QStringLiteral("Start automatically with a paired phone");
const QString autoStartHelp = QStringLiteral(
    "Starts on its own when you connect a phone in KOVA mode or one already used with KOVA. "
    "Pick a new phone once from the menu.");
const QString loginText = QStringLiteral("Open KOVA Connect at login");

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

QLabel* named(QLabel* label, const char* name) {
    label->setObjectName(name);
    return label;
}

QLabel* rowLabel(const QString& title, const QFont& font) {
    auto* label = new QLabel(title);
    label->setFont(font);
    setTextColour(*label, secondaryColor());
    return label;
}

QLabel* valueLabel(const QString& value, const QFont& font) {
    auto* label = new QLabel(value);
    label->setFont(font);
    return label;
}

QGridLayout* rowGrid(QWidget* owner, int rowSpacing) {
    auto* grid = new QGridLayout(owner);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(rowSpacing);
    grid->setColumnStretch(1, 1);
    return grid;
}

QIcon refreshIcon(const QWidget& widget) {
    const QIcon themed = QIcon::fromTheme(QStringLiteral("view-refresh"));
    return themed.isNull() ? widget.style()->standardIcon(QStyle::SP_BrowserReload) : themed;
}

}  // namespace

PanelView::PanelView(std::shared_ptr<ConnectModel> model, QPixmap wordmark, QString version,
                     QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      wordmark_(std::move(wordmark)),
      version_(std::move(version)) {
    setFixedWidth(320);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The main button is the default action: Return presses it wherever the focus is.
    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, &PanelView::pressMainButton);
    }
    observer_ = model_->observe([this](Property) { scheduleRebuild(); });
    rebuild();
}

PanelView::~PanelView() {
    model_->unobserve(observer_);
}

void PanelView::scheduleRebuild() {
    // One change of state publishes several properties: redraw once, after all of them.
    if (rebuildPending_) {
        return;
    }
    rebuildPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            rebuildPending_ = false;
            rebuild();
        },
        Qt::QueuedConnection);
}

void PanelView::rebuild() {
    if (body_) {
        // The old rows may hold the widget whose signal led here.
        body_->hide();
        layout()->removeWidget(body_);
        body_->setParent(nullptr);
        body_->deleteLater();
    }
    body_ = makeBody();
    layout()->addWidget(body_);
    body_->show();
    layout()->activate();
    Q_EMIT rebuilt();
}

QWidget* PanelView::makeBody() {
    auto* body = new QWidget;
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(panelPadding, panelPadding, panelPadding, panelPadding);
    column->setSpacing(blockSpacing);
    const ConnectModel& model = *model_;
    const QColor dot =
        stateColor(model.streaming(), model.errorText().has_value(), model.phase() == Phase::idle);
    column->addWidget(makeHeader(wordmark_, dot, text(model.stateText())));
    column->addWidget(makeDivider());
    column->addWidget(makeDeviceRows());
    column->addWidget(makeMainButton());
    if (model.underruns()) {
        column->addWidget(makeStatistics());
    }
    if (model.errorText()) {
        column->addWidget(makeError());
    }
    column->addWidget(makeDivider());
    column->addWidget(makeSwitches());
    column->addWidget(makeFooter(version_));
    return body;
}

QWidget* PanelView::makeDeviceRows() {
    auto* rows = new QWidget;
    auto* grid = rowGrid(rows, 8);
    const QFont font = panelFont(13);
    grid->addWidget(rowLabel(QStringLiteral("Phone"), font), 0, 0);
    grid->addWidget(makePhoneChoice(), 0, 1);
    grid->addWidget(rowLabel(QStringLiteral("Output"), font), 1, 0);
    if (model_->kovaDevicePresent()) {
        grid->addWidget(
            named(valueLabel(outputDescription(model_->kovaSampleRate()), font), row::output), 1,
            1);
    } else {
        auto* missing =
            named(valueLabel(QStringLiteral("KOVA device not installed"), font), row::output);
        setTextColour(*missing, errorColor());
        grid->addWidget(missing, 1, 1);
    }
    return rows;
}

QWidget* PanelView::makePhoneChoice() {
    auto* choice = new QWidget;
    choice->setObjectName(row::phoneRow);
    auto* line = new QHBoxLayout(choice);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(4);
    auto* picker = new QComboBox;
    picker->setObjectName(row::phonePicker);
    picker->setAccessibleName(QStringLiteral("Phone"));
    picker->addItem(QStringLiteral("Choose…"));
    for (const Device& device : model_->devices()) {
        picker->addItem(text(device.label()), text(device.path));
        if (model_->selectedPath() == device.path) {
            picker->setCurrentIndex(picker->count() - 1);
        }
    }
    connect(picker, &QComboBox::activated, this, [this, picker](int index) {
        const QVariant path = picker->itemData(index);
        model_->setSelectedPath(path.isValid() ? std::optional(path.toString().toStdString())
                                               : std::nullopt);
        scheduleRebuild();
    });
    line->addWidget(picker, 1);
    auto* refresh = new QToolButton;
    refresh->setObjectName(row::refresh);
    refresh->setAutoRaise(true);
    refresh->setIcon(refreshIcon(*refresh));
    refresh->setToolTip(refreshHelp);
    refresh->setAccessibleName(refreshHelp);
    connect(refresh, &QToolButton::clicked, this, [this] { model_->refresh(); });
    line->addWidget(refresh);
    // The phone cannot change during a session.
    choice->setEnabled(model_->phase() == Phase::idle);
    return choice;
}

QWidget* PanelView::makeMainButton() {
    const bool idle = model_->phase() == Phase::idle;
    auto* button = new QPushButton(idle ? QStringLiteral("Start") : QStringLiteral("Stop"));
    button->setObjectName(row::mainButton);
    button->setDefault(true);
    button->setMinimumHeight(largeButtonHeight);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setEnabled(idle ? model_->canStart() : model_->phase() != Phase::stopping);
    connect(button, &QPushButton::clicked, this, &PanelView::pressMainButton);
    return button;
}

void PanelView::pressMainButton() {
    const auto* button = body_ ? body_->findChild<QPushButton*>(row::mainButton) : nullptr;
    if (!button || !button->isEnabled()) {
        return;
    }
    if (model_->phase() == Phase::idle) {
        model_->start();
    } else {
        model_->stop();
    }
}

QWidget* PanelView::makeStatistics() {
    auto* block = new QWidget;
    block->setObjectName(row::statistics);
    auto* grid = rowGrid(block, 4);
    const QFont font = panelFont(calloutSize);
    const std::pair<QString, std::pair<const char*, QString>> rows[] = {
        {QStringLiteral("KOVA input"), {row::inputLevel, inputLevelText(model_->inputPeak())}},
        {QStringLiteral("Phone buffer"), {row::phoneBuffer, bufferText(model_->bufferMs())}},
        {QStringLiteral("Underruns"), {row::underruns, underrunsText(model_->underruns())}},
    };
    int line = 0;
    for (const auto& [title, value] : rows) {
        grid->addWidget(rowLabel(title, font), line, 0);
        grid->addWidget(named(valueLabel(value.second, font), value.first), line, 1);
        ++line;
    }
    return block;
}

QWidget* PanelView::makeError() {
    auto* error = named(valueLabel(text(*model_->errorText()), panelFont(captionSize)), row::error);
    setTextColour(*error, errorColor());
    error->setWordWrap(true);
    error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return error;
}

QWidget* PanelView::makeSwitches() {
    auto* block = new QWidget;
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    const QFont font = panelFont(calloutSize);
    auto* autoStart = new ToggleSwitch(autoStartText);
    autoStart->setObjectName(row::autoStart);
    autoStart->setFont(font);
    autoStart->setToolTip(autoStartHelp);
    autoStart->setChecked(model_->autoStart());
    connect(autoStart, &ToggleSwitch::clicked, this, [this](bool on) {
        model_->setAutoStart(on);
        scheduleRebuild();
    });
    column->addWidget(autoStart);
    auto* login = new ToggleSwitch(loginText);
    login->setObjectName(row::launchAtLogin);
    login->setFont(font);
    login->setChecked(model_->launchAtLogin());
    // The switch shows what the system reports, not what was asked for.
    connect(login, &ToggleSwitch::clicked, this, [this](bool on) {
        model_->setLaunchAtLogin(on);
        scheduleRebuild();
    });
    column->addWidget(login);
    return block;
}

}  // namespace kova::shell

// An on/off switch with its label, drawn as a small track and knob.
#pragma once

#include <QAbstractButton>

namespace kova::shell {

/// A checkable button drawn as a switch: accent track when on, grey when off.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

  public:
    /// A switch labelled `text`.
    explicit ToggleSwitch(const QString& text, QWidget* parent = nullptr);

    /// Track, gap and label.
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kova::shell

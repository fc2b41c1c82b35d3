// The window that carries the panel: a rounded frameless popup under the tray icon, or a
// small ordinary window when the desktop has no tray.
#pragma once

#include <QElapsedTimer>
#include <QWidget>

namespace kova::shell {

/// Top-level container of the panel's content, sized to that content.
class PanelWindow : public QWidget {
    Q_OBJECT

  public:
    /// How the panel is presented.
    enum class Mode { popup, window };

    /// Panel width in points.
    static constexpr int width = 320;
    /// Corner radius of the popup in points.
    static constexpr int cornerRadius = 10;

    /// An empty panel presented as `mode`.
    explicit PanelWindow(Mode mode, QWidget* parent = nullptr);

    /// Places `content` in the panel, replacing (and later deleting) any earlier content.
    void setContent(QWidget* content);
    /// The content widget, or null.
    QWidget* content() const { return content_; }
    /// How this panel is presented.
    Mode mode() const { return mode_; }
    /// The size the panel takes for its current content.
    QSize panelSize() const;
    /// True when the panel was hidden within the last `milliseconds`.
    bool dismissedWithin(int milliseconds) const;

  Q_SIGNALS:
    /// The panel became hidden, for whatever reason.
    void hidden();
    /// The user closed the ordinary window.
    void closedByUser();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    Mode mode_;
    QWidget* content_ = nullptr;
    QElapsedTimer sinceHidden_;
};

}  // namespace kova::shell

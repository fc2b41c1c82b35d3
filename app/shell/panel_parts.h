// The fixed parts of the panel: the header with the brand marks and the state, and the footer.
#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>

#include <QWidget>

namespace kova::shell {

/// The round state indicator, 8 × 8 points, filled with its colour.
class StateDot : public QWidget {
    Q_OBJECT

  public:
    /// A dot filled with `colour`.
    explicit StateDot(const QColor& colour, QWidget* parent = nullptr);
    /// The fill colour.
    QColor colour() const { return colour_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor colour_;
};

/// A font of `pixels` logical pixels (the design's points) and `weight`.
QFont panelFont(qreal pixels, QFont::Weight weight = QFont::Normal);
/// Sets `widget`'s text colour to `colour`.
void setTextColour(QWidget& widget, const QColor& colour);

/// Object names by which tests and the snapshot check find the panel's widgets.
namespace part {
inline constexpr char stateDot[] = "stateDot";
inline constexpr char stateText[] = "stateText";
inline constexpr char wordmark[] = "wordmark";
inline constexpr char version[] = "version";
inline constexpr char quit[] = "quit";
}  // namespace part

/// The header: the wordmark (or "KOVA" when `wordmark` is null), "CONNECT", "QUILLOMAR",
/// and on the right the state dot in `dotColour` with `stateText`.
QWidget* makeHeader(const QPixmap& wordmark, const QColor& dotColour, const QString& stateText);

/// The footer: the output hint, the version text and the Quit button, which quits the app.
QWidget* makeFooter(const QString& version);

/// A thin horizontal rule between blocks.
QWidget* makeDivider();

}  // namespace kova::shell

// The panel's content: what the controller model knows and the few actions it offers.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <memory>

#include "app/model/connect_model.h"

namespace kova::shell {

/// Object names by which tests and checks find the rows of the panel.
namespace row {
inline constexpr char phonePicker[] = "phonePicker";
inline constexpr char phoneRow[] = "phoneRow";
inline constexpr char refresh[] = "refresh";
inline constexpr char output[] = "output";
inline constexpr char mainButton[] = "mainButton";
inline constexpr char statistics[] = "statistics";
inline constexpr char inputLevel[] = "inputLevel";
inline constexpr char phoneBuffer[] = "phoneBuffer";
inline constexpr char underruns[] = "underruns";
inline constexpr char error[] = "errorText";
inline constexpr char autoStart[] = "autoStart";
inline constexpr char launchAtLogin[] = "launchAtLogin";
}  // namespace row

/// A single column, 320 points wide, rebuilt from the model after every change; it keeps no
/// state of its own.
class PanelView : public QWidget {
    Q_OBJECT

  public:
    /// A view of `model` showing `wordmark` (null: the text "KOVA") and `version`.
    PanelView(std::shared_ptr<ConnectModel> model, QPixmap wordmark, QString version,
              QWidget* parent = nullptr);
    ~PanelView() override;

    /// Rebuilds every row from the model now.
    void rebuild();

  Q_SIGNALS:
    /// The rows were rebuilt (the panel may have changed height).
    void rebuilt();

  private:
    void scheduleRebuild();
    QWidget* makeBody();
    QWidget* makeDeviceRows();
    QWidget* makePhoneChoice();
    QWidget* makeMainButton();
    QWidget* makeStatistics();
    QWidget* makeError();
    QWidget* makeSwitches();
    void pressMainButton();

    std::shared_ptr<ConnectModel> model_;
    QPixmap wordmark_;
    QString version_;
    ConnectModel::ObserverId observer_;
    QWidget* body_ = nullptr;
    bool rebuildPending_ = false;
};

}  // namespace kova::shell

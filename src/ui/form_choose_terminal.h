// The chooser window: loads the configuration, then offers the terminals that this workstation
// may start as a column of painted buttons.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "core/config/config.h"
#include "core/terminal/controller.h"
#include "ui/controller_creator.h"
#include "ui/dialogs.h"

class QFrame;
class QLabel;
class QPlainTextEdit;
class QTimer;

namespace qiv_start::ui {

class TTerminalButton;

class TFormChooseTerminal : public QDialog, public core::TCoreListener {
    Q_OBJECT
  public:
    TFormChooseTerminal(TControllerCreator create_controller, TDialogs& dialogs,
                        QWidget* parent = nullptr);
    ~TFormChooseTerminal() override;

    // The clicked terminal's id code; empty until a button is clicked.
    std::string get_chosen_terminal_code() const { return chosen_terminal_code_; }

    // Runs with the clicked terminal's code while the window is still shown; the window ends
    // accepted when it returns.
    void set_on_chosen(std::function<void(const std::string&)> on_chosen) {
        on_chosen_ = std::move(on_chosen);
    }

    // Shows the message's value as a line of the loading panel.
    void notify(const core::TCoreMessage& messageContent) override;

    // Closing while the loading runs takes effect when the loading ends.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Timer1Timer();
    void build_terminal_buttons();
    void build_terminal_button(int index);
    void draw_terminal_button(TTerminalButton* button, core::TColor fill);
    void terminal_button_click(TTerminalButton* button);
    void terminal_button_mouse_enter(TTerminalButton* button);
    void terminal_button_mouse_leave(TTerminalButton* button);
    // Runs an event's work; its error is shown to the user and the window stays as it is.
    template <class Work>
    void guarded(Work work);

    std::shared_ptr<core::TConfig> config();
    QColor color(core::TColor value, QPalette::ColorRole default_role) const;

    QTimer* Timer1;
    QFrame* PanelConfiguring;
    QPlainTextEdit* Memo1;
    QLabel* Label1;

    TControllerCreator create_controller_;
    TDialogs& dialogs_;
    std::shared_ptr<core::TController> controller_;
    core::TTerminalConfigs terminals_;
    std::string chosen_terminal_code_;
    std::function<void(const std::string&)> on_chosen_;
    bool shown_ = false;
    bool loading_ = false;
    bool close_requested_ = false;
};

}  // namespace qiv_start::ui

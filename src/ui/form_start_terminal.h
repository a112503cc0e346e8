// The start progress window: runs the terminal's preparation and shows its progress as a file
// counter, the current download's percentage and a list of events.
#pragma once

#include <QDialog>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/support/messages.h"
#include "ui/dialogs.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QTimer;

namespace qiv_start::ui {

// The work that the window runs, given the window as the listener of its progress.
using TExecProc = std::function<void(std::shared_ptr<core::TCoreListener> listener)>;

class TFormStartTerminal : public QDialog, public core::TCoreListener {
    Q_OBJECT
  public:
    explicit TFormStartTerminal(TDialogs& dialogs, QWidget* parent = nullptr);
    ~TFormStartTerminal() override;

    void set_exec_proc(TExecProc proc) { exec_proc_ = std::move(proc); }

    // Shows a progress message. Raises TError when the percentage or the file count of a progress
    // message is no decimal integer.
    void notify(const core::TCoreMessage& messageContent) override;

    // Closing while the work runs takes effect when the work ends.
    void reject() override;

    // For the work while it waits: returns once about `step` has passed, the window painted and
    // answering meanwhile; false once the close box was used, so that the work ends.
    bool wait_step(std::chrono::milliseconds step);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Timer1Timer();
    // False when the items are no progress message that the window knows.
    bool show_progress(const std::vector<std::string>& items);
    void set_file_counter(std::int64_t position);
    void advance_file_counter();
    void append_event(const std::string& line);
    void replace_last_event(const std::string& line);

    QLabel* LabelFileCount;
    QProgressBar* ProgressBarFileCount;
    QProgressBar* ProgressBarFileDownload;
    QPlainTextEdit* MemoEvents;
    QTimer* Timer1;

    TDialogs& dialogs_;
    TExecProc exec_proc_;
    bool shown_ = false;
    bool working_ = false;
    bool close_requested_ = false;
};

}  // namespace qiv_start::ui

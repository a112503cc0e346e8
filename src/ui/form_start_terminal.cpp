#include "ui/form_start_terminal.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <cstdint>

#include "core/support/error.h"
#include "core/support/format.h"
#include "ui/borrowed_listener.h"
#include "ui/colors.h"
#include "ui/form_design.h"
#include "ui/message_items.h"
#include "ui/screen_text.h"

namespace qiv_start::ui {
namespace {

constexpr int kSystemHighlight = 13;
constexpr int kSystemGradientActiveCaption = 27;
constexpr int kBarHeight = 17;

int parse_decimal(const std::string& text) {
    int value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        throw core::TError(core::format("\"%0:s\" nie jest liczbą całkowitą", {text}));
    }
    return value;
}

// The bar keeps its position within its range, whatever it is given.
void set_position(QProgressBar* bar, std::int64_t position) {
    bar->setValue(
        static_cast<int>(std::clamp<std::int64_t>(position, bar->minimum(), bar->maximum())));
}

QProgressBar* make_bar(QWidget* parent, const char* name) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedHeight(kBarHeight);
    return bar;
}

}  // namespace

TFormStartTerminal::TFormStartTerminal(TDialogs& dialogs, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      LabelFileCount(new QLabel(this)),
      ProgressBarFileCount(make_bar(this, "ProgressBarFileCount")),
      ProgressBarFileDownload(make_bar(this, "ProgressBarFileDownload")),
      MemoEvents(new QPlainTextEdit(this)),
      Timer1(new QTimer(this)),
      dialogs_(dialogs) {
    design_form(this, QStringLiteral("FormStartTerminal"), QStringLiteral("Uruchamianie Terminala"),
                QSize(431, 175));

    LabelFileCount->setObjectName(QStringLiteral("LabelFileCount"));
    LabelFileCount->setText(QStringLiteral("<->"));
    LabelFileCount->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    LabelFileCount->setMinimumHeight(13);
    QPalette label_palette = LabelFileCount->palette();
    label_palette.setColor(QPalette::Window,
                           system_color(kSystemGradientActiveCaption, palette(), QPalette::Window));
    label_palette.setColor(QPalette::WindowText,
                           system_color(kSystemHighlight, palette(), QPalette::WindowText));
    LabelFileCount->setPalette(label_palette);
    LabelFileCount->setAutoFillBackground(true);

    MemoEvents->setObjectName(QStringLiteral("MemoEvents"));
    MemoEvents->setFrameShape(QFrame::NoFrame);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(LabelFileCount);
    layout->addWidget(ProgressBarFileCount);
    layout->addWidget(ProgressBarFileDownload);
    layout->addWidget(MemoEvents, 1);
    setTabOrder(MemoEvents, ProgressBarFileDownload);
    setTabOrder(ProgressBarFileDownload, ProgressBarFileCount);

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

TFormStartTerminal::~TFormStartTerminal() = default;

void TFormStartTerminal::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_)
        return;  // the work runs once, however often the window is shown
    shown_ = true;
    Timer1->start();
}

void TFormStartTerminal::reject() {
    if (working_) {
        close_requested_ = true;
        return;
    }
    QDialog::reject();
}

// The work runs inside a timer event: a loop of its own lets the window's events through.
bool TFormStartTerminal::wait_step(std::chrono::milliseconds step) {
    QEventLoop loop;
    QTimer::singleShot(step, &loop, &QEventLoop::quit);
    loop.exec();
    return !close_requested_;
}

void TFormStartTerminal::Timer1Timer() {
    Timer1->stop();
    working_ = true;
    try {
        if (exec_proc_)
            exec_proc_(borrowed_listener(this));
        working_ = false;
        accept();
    } catch (const std::exception& e) {
        working_ = false;
        dialogs_.error(e.what());
        // Without anyone at the screen the window would wait for ever to be closed.
        if (close_requested_ || !dialogs_.is_attended())
            QDialog::reject();
    }
}

void TFormStartTerminal::notify(const core::TCoreMessage& messageContent) {
    if (&messageContent.get_type() == &core::detail)
        return;
    if (!show_progress(split_message_value(messageContent.get_value()))) {
        append_event("-" + messageContent.to_string());
    }
    // The work runs inside a timer event: keep the window painted and answering meanwhile.
    QCoreApplication::processEvents();
}

// A known code whose argument is missing is shown as an ordinary event.
bool TFormStartTerminal::show_progress(const std::vector<std::string>& items) {
    if (items.empty())
        return false;
    const std::string& code = items[0];
    if (code == "download_finished") {
        set_position(ProgressBarFileDownload, 100);
        replace_last_event("pobrano: 100%");
        return true;
    }
    if (items.size() < 2)
        return false;
    const std::string& argument = items[1];
    if (code == "downloaded_prc") {
        set_position(ProgressBarFileDownload, parse_decimal(argument));
        replace_last_event(core::format("pobrano: %0:s%%", {argument}));
    } else if (code == "download_start") {
        advance_file_counter();
        set_position(ProgressBarFileDownload, 0);
        append_event(core::format("pobieranie pliku \"%0:s\"", {argument}));
    } else if (code == "file_count") {
        ProgressBarFileCount->setMaximum(parse_decimal(argument));
        set_file_counter(0);
    } else {
        return false;
    }
    return true;
}

void TFormStartTerminal::set_file_counter(std::int64_t position) {
    set_position(ProgressBarFileCount, position);
    LabelFileCount->setText(to_screen_text(
        core::format("pliki terminala\r%0:d/%1:d",
                     {ProgressBarFileCount->value(), ProgressBarFileCount->maximum()})));
}

void TFormStartTerminal::advance_file_counter() {
    set_file_counter(std::int64_t{ProgressBarFileCount->value()} + 1);
}

void TFormStartTerminal::append_event(const std::string& line) {
    MemoEvents->appendPlainText(QString::fromStdString(line));
}

// The last line is the last one appended; with no line yet the text becomes the first line.
void TFormStartTerminal::replace_last_event(const std::string& line) {
    if (MemoEvents->document()->isEmpty()) {
        append_event(line);
        return;
    }
    QTextCursor cursor(MemoEvents->document()->lastBlock());
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(QString::fromStdString(line));
}

}  // namespace qiv_start::ui

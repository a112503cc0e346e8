#include "ui/dialogs.h"

#include <QMessageBox>

#include "ui/screen_text.h"

namespace qiv_start::ui {
namespace {

// Never the program's base name: other launchers ask windows of that title to close.
const char* const kBoxTitle = "Qiv-start";

}  // namespace

void TMessageBoxDialogs::warning(const std::string& text) {
    QMessageBox::warning(nullptr, kBoxTitle, to_screen_text(text));
}

bool TMessageBoxDialogs::ask_yes_no(const std::string& text) {
    return QMessageBox::warning(nullptr, kBoxTitle, to_screen_text(text),
                                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void TMessageBoxDialogs::error(const std::string& text) {
    QMessageBox::critical(nullptr, kBoxTitle, to_screen_text(text));
}

}  // namespace qiv_start::ui

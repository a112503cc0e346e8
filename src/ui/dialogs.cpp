#include "ui/dialogs.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>

#include "ui/screen_text.h"

namespace qiv_start::ui {
namespace {

// Never the program's base name: other launchers ask windows of that title to close.
const char* const kBoxTitle = "Qiv-start";

// Without a screen (the offscreen platform of unattended runs) nobody could answer a box and
// the launcher would wait for ever: the text goes to standard error and the cautious answer is
// taken instead.
bool nobody_can_answer() {
    const QString platform = QGuiApplication::platformName();
    return platform == "offscreen" || platform == "minimal";
}

void to_standard_error(const char* kind, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", kind, to_screen_text(text).toStdString().c_str());
}

}  // namespace

bool TMessageBoxDialogs::is_attended() const {
    return !nobody_can_answer();
}

void TMessageBoxDialogs::warning(const std::string& text) {
    if (nobody_can_answer())
        return to_standard_error("uwaga", text);
    QMessageBox::warning(nullptr, kBoxTitle, to_screen_text(text));
}

bool TMessageBoxDialogs::ask_yes_no(const std::string& text) {
    if (nobody_can_answer()) {
        to_standard_error("uwaga", text);
        return false;
    }
    QMessageBox box(QMessageBox::Warning, kBoxTitle, to_screen_text(text),
                    QMessageBox::Yes | QMessageBox::No);
    // The buttons speak the launcher's language whatever translations Qt has installed.
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Tak"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Nie"));
    return box.exec() == QMessageBox::Yes;
}

void TMessageBoxDialogs::error(const std::string& text) {
    if (nobody_can_answer())
        return to_standard_error("błąd", text);
    QMessageBox::critical(nullptr, kBoxTitle, to_screen_text(text));
}

}  // namespace qiv_start::ui

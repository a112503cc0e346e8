#include "ui/screen_text.h"

namespace qiv_start::ui {

QString to_screen_text(const std::string& text) {
    QString result = QString::fromStdString(text);
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QChar('\r'), QChar('\n'));
    return result;
}

}  // namespace qiv_start::ui

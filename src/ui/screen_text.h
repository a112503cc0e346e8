// The launcher's texts as Qt shows them.
#pragma once

#include <QString>
#include <string>

namespace qiv_start::ui {

// UTF-8 to QString, with each carriage return (the line break of the launcher's own texts) as a
// line feed, which Qt's labels break at.
QString to_screen_text(const std::string& text);

}  // namespace qiv_start::ui

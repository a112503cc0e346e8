// The items of a progress message's value, such as "downloaded_prc|37".
#pragma once

#include <string>
#include <vector>

namespace qiv_start::ui {

// Splits at the bar. Blanks and control characters (codes 1 to 32) split too and are skipped
// around items; an item that starts with a double quote runs to the closing quote, a doubled quote
// inside standing for one, or to the end when none closes it. A bar at the very end adds an empty
// item. The value ends at its first NUL character.
std::vector<std::string> split_message_value(const std::string& value);

}  // namespace qiv_start::ui

#include "ui/colors.h"

#include <array>
#include <cstdint>

namespace qiv_start::ui {
namespace {

constexpr std::uint32_t kSystemColorFlag = 0xFF000000u;
constexpr int kSystemColorCount = 31;
constexpr QPalette::ColorRole kNoRole = QPalette::NColorRoles;

struct TRoleMix {
    QPalette::ColorRole role;
    QPalette::ColorRole blend;  // the gradient captions are a light tone of the caption colour
};

// By the system colour's index; kNoRole where the index names no colour.

constexpr std::array<TRoleMix, kSystemColorCount> kSystemRoles{{
    {QPalette::Button, kNoRole},            // 0 scroll bar
    {QPalette::Dark, kNoRole},              // 1 desktop
    {QPalette::Highlight, kNoRole},         // 2 active caption
    {QPalette::Mid, kNoRole},               // 3 inactive caption
    {QPalette::Window, kNoRole},            // 4 menu
    {QPalette::Base, kNoRole},              // 5 window
    {QPalette::Shadow, kNoRole},            // 6 window frame
    {QPalette::WindowText, kNoRole},        // 7 menu text
    {QPalette::Text, kNoRole},              // 8 window text
    {QPalette::HighlightedText, kNoRole},   // 9 caption text
    {QPalette::Window, kNoRole},            // 10 active border
    {QPalette::Window, kNoRole},            // 11 inactive border
    {QPalette::Mid, kNoRole},               // 12 application workspace
    {QPalette::Highlight, kNoRole},         // 13 highlight
    {QPalette::HighlightedText, kNoRole},   // 14 highlight text
    {QPalette::Button, kNoRole},            // 15 button face
    {QPalette::Dark, kNoRole},              // 16 button shadow
    {QPalette::PlaceholderText, kNoRole},   // 17 grey text
    {QPalette::ButtonText, kNoRole},        // 18 button text
    {QPalette::WindowText, kNoRole},        // 19 inactive caption text
    {QPalette::Light, kNoRole},             // 20 button highlight
    {QPalette::Shadow, kNoRole},            // 21 3D dark shadow
    {QPalette::Midlight, kNoRole},          // 22 3D light
    {QPalette::ToolTipText, kNoRole},       // 23 info text
    {QPalette::ToolTipBase, kNoRole},       // 24 info background
    {kNoRole, kNoRole},                     // 25 unused
    {QPalette::Link, kNoRole},              // 26 hot light
    {QPalette::Highlight, QPalette::Base},  // 27 gradient active caption
    {QPalette::Mid, QPalette::Base},        // 28 gradient inactive caption
    {QPalette::Highlight, kNoRole},         // 29 menu highlight
    {QPalette::Window, kNoRole},            // 30 menu bar
}};

QColor mix(const QColor& tone, const QColor& base) {
    // A third of the tone over the base, like the light end of a caption gradient.
    const auto channel = [](int t, int b) { return (t + 2 * b) / 3; };
    return QColor(channel(tone.red(), base.red()), channel(tone.green(), base.green()),
                  channel(tone.blue(), base.blue()));
}

}  // namespace

QColor system_color(int index, const QPalette& palette, QPalette::ColorRole default_role) {
    if (index < 0 || index >= kSystemColorCount || kSystemRoles[index].role == kNoRole) {
        return palette.color(default_role);
    }
    const TRoleMix& entry = kSystemRoles[index];
    const QColor tone = palette.color(entry.role);
    return entry.blend == kNoRole ? tone : mix(tone, palette.color(entry.blend));
}

QColor to_qcolor(core::TColor value, const QPalette& palette, QPalette::ColorRole default_role) {
    if (value == kColorNone)
        return QColor(Qt::transparent);
    if (value == kColorDefault)
        return palette.color(default_role);
    const auto bits = static_cast<std::uint32_t>(value);
    if ((bits & kSystemColorFlag) == kSystemColorFlag) {
        return system_color(static_cast<int>(bits & 0xFFu), palette, default_role);
    }
    return QColor(static_cast<int>(bits & 0xFFu), static_cast<int>((bits >> 8) & 0xFFu),
                  static_cast<int>((bits >> 16) & 0xFFu));
}

}  // namespace qiv_start::ui

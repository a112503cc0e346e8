// Colour values of the configuration (0x00BBGGRR, system colours, "none", "default") as Qt colours.
#pragma once

#include <QColor>
#include <QPalette>

#include "core/config/config.h"

namespace qiv_start::ui {

constexpr core::TColor kColorNone = 0x1FFFFFFF;
constexpr core::TColor kColorDefault = 0x20000000;

// A direct colour as it is; a system colour from the palette's nearest role; "none" as fully
// transparent; "default" and unknown system colours as the palette's default_role.
QColor to_qcolor(core::TColor value, const QPalette& palette, QPalette::ColorRole default_role);

// The Windows system colour with index nn (0xFF0000nn) from the palette.
QColor system_color(int index, const QPalette& palette, QPalette::ColorRole default_role);

}  // namespace qiv_start::ui

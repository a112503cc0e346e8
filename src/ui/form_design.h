// What the launcher's two windows share at design time.
#pragma once

#include <QColor>
#include <QSize>
#include <QString>
#include <QWidget>

namespace qiv_start::ui {

// Fills the widget's background with the colour.
void set_background(QWidget* widget, const QColor& color);

// Name, caption and client size of a window, with the Tahoma font 11 pixels high and the
// button-face colour behind it. Esc does not close the window: only its close box does.
void design_form(QWidget* form, const QString& name, const QString& caption, QSize client);

}  // namespace qiv_start::ui

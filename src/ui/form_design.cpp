#include "ui/form_design.h"

#include <QFont>
#include <QPalette>

namespace qiv_start::ui {

void set_background(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(widget->backgroundRole(), color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void design_form(QWidget* form, const QString& name, const QString& caption, QSize client) {
    form->setObjectName(name);
    form->setWindowTitle(caption);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    form->setFont(font);
    set_background(form, form->palette().color(QPalette::Button));
    form->resize(client);
}

}  // namespace qiv_start::ui

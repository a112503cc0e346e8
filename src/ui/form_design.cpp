#include "ui/form_design.h"

#include <QFont>
#include <QKeyEvent>
#include <QPalette>

namespace qiv_start::ui {
namespace {

// Takes the cancel key (Esc) before a dialog would close on it.
class TCancelKeyFilter : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)) {
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

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
    form->installEventFilter(new TCancelKeyFilter(form));
}

}  // namespace qiv_start::ui

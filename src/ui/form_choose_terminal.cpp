#include "ui/form_choose_terminal.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <cstdint>

#include "ui/borrowed_listener.h"
#include "ui/colors.h"
#include "ui/form_design.h"
#include "ui/terminal_button.h"

namespace qiv_start::ui {
namespace {

constexpr int kButtonGap = 2;
constexpr int kNameHeight = 19;
constexpr int kVersionHeight = 13;
constexpr int kVersionRightSpace = 100;

// Sizes from the configuration may be anything; the window system takes at most this.
int to_pixels(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}

QFont name_font() {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kNameHeight);
    font.setBold(true);
    return font;
}

// The version's 13 pixels are the height of the font's cell, leading included, where Qt's pixel
// size is the character height: the font is scaled so that its cell on the device is that high.
QFont version_font(const QPaintDevice& device) {
    QFont font = name_font();
    font.setBold(false);
    font.setItalic(true);
    font.setPixelSize(kVersionHeight);
    const qreal cell = QFontMetricsF(font, &device).height();
    const qreal character_height = kVersionHeight * kVersionHeight / cell;
    font.setPointSizeF(character_height * 72.0 / device.logicalDpiY());
    return font;
}

// Draws text with its top-left corner at the point, each character cell filled with background.
void draw_opaque_text(QPainter& painter, const QPoint& at, const QString& text, const QColor& color,
                      const QColor& background) {
    const QFontMetrics metrics = painter.fontMetrics();
    painter.fillRect(QRect(at, QSize(metrics.horizontalAdvance(text), metrics.height())),
                     background);
    painter.setPen(color);
    painter.drawText(at.x(), at.y() + metrics.ascent(), text);
}

struct TButtonLook {
    QColor fill;
    QColor frame;
    QColor text;
};

// The whole button: fill, a one-pixel frame, the name beside an empty square at the left end and
// the version near the right end.
QImage paint_terminal_button(const QSize& size, const TButtonLook& look, const QString& name,
                             const QString& version) {
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    // An empty size, or one larger than memory holds, leaves nothing to paint.
    if (picture.isNull())
        return picture;
    picture.fill(Qt::transparent);
    const int width = size.width();
    const int height = size.height();
    QPainter painter(&picture);
    painter.fillRect(0, 0, width, height, look.fill);
    painter.setPen(look.frame);
    painter.drawRect(0, 0, width - 1, height - 1);
    painter.setFont(name_font());
    draw_opaque_text(painter, QPoint(height + 5, (height - kNameHeight) / 2 - 2), name, look.text,
                     look.fill);
    painter.setFont(version_font(picture));
    draw_opaque_text(painter,
                     QPoint(height + width - kVersionRightSpace, (height + kVersionHeight) / 2 - 2),
                     version, look.text, look.fill);
    return picture;
}

}  // namespace

TFormChooseTerminal::TFormChooseTerminal(TControllerCreator create_controller, TDialogs& dialogs,
                                         QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Timer1(new QTimer(this)),
      PanelConfiguring(new QFrame(this)),
      Memo1(new QPlainTextEdit(PanelConfiguring)),
      Label1(new QLabel(PanelConfiguring)),
      create_controller_(std::move(create_controller)),
      dialogs_(dialogs) {
    design_form(this, QStringLiteral("FormChooseTerminal"), QStringLiteral("Qiv-start"),
                QSize(590, 241));

    PanelConfiguring->setObjectName(QStringLiteral("PanelConfiguring"));
    PanelConfiguring->setFrameShape(QFrame::NoFrame);
    PanelConfiguring->setGeometry(20, 56, 550, 169);

    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setText(QStringLiteral("Pobieranie ustawień"));
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label1->setGeometry(0, 0, 550, 13);

    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setReadOnly(true);
    Memo1->setGeometry(0, 48, 550, 105);
    set_background(Memo1->viewport(), palette().color(QPalette::Button));

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

TFormChooseTerminal::~TFormChooseTerminal() = default;

void TFormChooseTerminal::notify(const core::TCoreMessage& messageContent) {
    if (&messageContent.get_type() == &core::detail)
        return;
    Memo1->appendPlainText(QString::fromStdString(messageContent.get_value()));
    // The loading runs inside a timer event: keep the window painted and answering meanwhile.
    QCoreApplication::processEvents();
}

void TFormChooseTerminal::reject() {
    if (loading_) {
        close_requested_ = true;
        return;
    }
    QDialog::reject();
}

void TFormChooseTerminal::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_)
        return;  // the loading runs once, however often the window is shown
    shown_ = true;
    Timer1->start();
}

template <class Work>
void TFormChooseTerminal::guarded(Work work) {
    try {
        work();
    } catch (const std::exception& e) {
        dialogs_.error(e.what());
    }
}

void TFormChooseTerminal::Timer1Timer() {
    Timer1->stop();
    loading_ = true;
    guarded([this] {
        controller_ = create_controller_(borrowed_listener(this));
        terminals_ = controller_->get_accessible_terminals();
        build_terminal_buttons();
        PanelConfiguring->hide();
    });
    loading_ = false;
    if (close_requested_)
        QDialog::reject();
}

std::shared_ptr<core::TConfig> TFormChooseTerminal::config() {
    return controller_->get_config();
}

QColor TFormChooseTerminal::color(core::TColor value, QPalette::ColorRole default_role) const {
    return to_qcolor(value, palette(), default_role);
}

void TFormChooseTerminal::build_terminal_buttons() {
    for (std::size_t i = 0; i < terminals_.size(); ++i)
        build_terminal_button(static_cast<int>(i));
    const std::int64_t width = config()->get_btn_width();
    const std::int64_t height = config()->get_btn_height();
    const std::int64_t count = static_cast<std::int64_t>(terminals_.size());
    resize(to_pixels(2 * std::int64_t{config()->get_margin()} + width),
           to_pixels(2 * std::int64_t{config()->get_top_margin()} + (height + kButtonGap) * count));
}

// A button joins the window only when it is complete, so a failing setting leaves no blank one.
void TFormChooseTerminal::build_terminal_button(int index) {
    auto button = std::make_unique<TTerminalButton>();
    const std::int64_t width = config()->get_btn_width();
    const std::int64_t height = config()->get_btn_height();
    const std::int64_t left = config()->get_margin();
    const std::int64_t top = config()->get_top_margin() + (height + kButtonGap) * index;
    button->setGeometry(to_pixels(left), to_pixels(top), to_pixels(width), to_pixels(height));
    button->set_text_color(color(config()->get_color_btn_text(), QPalette::ButtonText));
    button->setProperty("tag", index);
    button->setObjectName(QStringLiteral("t%1").arg(index));
    draw_terminal_button(button.get(), config()->get_color_btn_normal());

    TTerminalButton* placed = button.release();
    placed->setParent(this);
    connect(placed, &TTerminalButton::clicked, this,
            [this, placed] { guarded([&] { terminal_button_click(placed); }); });
    connect(placed, &TTerminalButton::entered, this,
            [this, placed] { guarded([&] { terminal_button_mouse_enter(placed); }); });
    connect(placed, &TTerminalButton::left, this,
            [this, placed] { guarded([&] { terminal_button_mouse_leave(placed); }); });
    placed->show();
}

void TFormChooseTerminal::draw_terminal_button(TTerminalButton* button, core::TColor fill) {
    const auto& terminal = terminals_.at(button->property("tag").toUInt());
    TButtonLook look;
    look.fill = color(fill, QPalette::Button);
    look.frame = color(config()->get_color_btn_frame(), QPalette::WindowText);
    look.text = button->text_color();
    button->set_picture(paint_terminal_button(button->size(), look,
                                              QString::fromStdString(terminal->get_name()),
                                              QString::fromStdString(terminal->get_version())));
}

void TFormChooseTerminal::terminal_button_click(TTerminalButton* button) {
    chosen_terminal_code_ = terminals_.at(button->property("tag").toUInt())->get_id_code();
    if (on_chosen_)
        on_chosen_(chosen_terminal_code_);
    accept();
}

void TFormChooseTerminal::terminal_button_mouse_enter(TTerminalButton* button) {
    draw_terminal_button(button, config()->get_color_btn_highlight());
}

void TFormChooseTerminal::terminal_button_mouse_leave(TTerminalButton* button) {
    draw_terminal_button(button, config()->get_color_btn_normal());
}

}  // namespace qiv_start::ui

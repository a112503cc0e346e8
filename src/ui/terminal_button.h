// A terminal's button in the chooser window: a picture that the window paints, reporting the
// pointer entering, leaving and clicking it.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

namespace qiv_start::ui {

class TTerminalButton : public QWidget {
    Q_OBJECT
  public:
    explicit TTerminalButton(QWidget* parent = nullptr);

    void set_picture(QImage picture);
    const QImage& picture() const { return picture_; }
    // The colour of the texts painted on the button, chosen when the button is made.
    void set_text_color(const QColor& color) { text_color_ = color; }
    const QColor& text_color() const { return text_color_; }

  signals:
    void entered();
    void left();
    void clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QImage picture_;
    QColor text_color_;
    bool pressed_ = false;
};

}  // namespace qiv_start::ui

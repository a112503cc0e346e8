#include "ui/form_choose_terminal.h"

#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include "qt_test_environment.h"
#include "ui/colors.h"
#include "ui/terminal_button.h"
#include "ui_fakes.h"

namespace qiv_start::ui {
namespace {

const QColor kRed(255, 0, 0);
const QColor kLime(0, 255, 0);
const QColor kBlue(0, 0, 255);

// The ink of text drawn with its cell's top-left corner at `cell`, give or take the one pixel
// that smoothing may add or take at an edge. A negative height is the character height, a
// positive one the cell height, leading included (met by the largest whole pixel size).
void expect_ink_near(const QRect& ink, const char* family, int height, bool bold, bool italic,
                     const QString& text, const QPoint& cell) {
    QFont font(QString::fromLatin1(family));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(std::abs(height));
    font.setBold(bold);
    font.setItalic(italic);
    while (height > 0 && font.pixelSize() > 1 && QFontMetrics(font).height() > height)
        font.setPixelSize(font.pixelSize() - 1);
    const QFontMetrics metrics(font);
    const QRect expected =
        metrics.tightBoundingRect(text).translated(cell.x(), cell.y() + metrics.ascent());
    ASSERT_FALSE(ink.isEmpty()) << text.toStdString();
    EXPECT_NEAR(ink.left(), expected.left(), 1) << text.toStdString();
    EXPECT_NEAR(ink.top(), expected.top(), 1) << text.toStdString();
    EXPECT_NEAR(ink.bottom(), expected.bottom(), 1) << text.toStdString();
}

class ChooseTerminalTest : public ::testing::Test {
  protected:
    TControllerCreator creator() {
        return [this](const std::shared_ptr<core::TCoreListener>& listener) {
            ++controllers_built;
            if (creation_error)
                throw core::TError(creation_error);
            controller = std::make_shared<test::TFakeController>(config, terminals, listener);
            controller->on_accessible_terminals = on_load;
            return controller;
        };
    }

    // Shows the window and waits until its loading has run.
    void show_and_load(TFormChooseTerminal& form) {
        form.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return controllers_built > 0; }));
    }

    static TTerminalButton* button(TFormChooseTerminal& form, const char* name) {
        return form.findChild<TTerminalButton*>(name);
    }

    static QColor pixel(QWidget* widget, int x, int y) {
        return QColor(widget->grab().toImage().pixel(x, y));
    }

    std::shared_ptr<test::TFakeConfig> config = std::make_shared<test::TFakeConfig>();
    core::TTerminalConfigs terminals = test::three_terminals();
    test::TScriptedDialogs dialogs;
    std::shared_ptr<test::TFakeController> controller;
    int controllers_built = 0;
    const char* creation_error = nullptr;
    std::function<void()> on_load;
};

TEST_F(ChooseTerminalTest, StartsWithTheLoadingPanelAndItsCaptions) {
    TFormChooseTerminal form(creator(), dialogs);
    EXPECT_EQ(form.windowTitle(), "Qiv-start");
    EXPECT_EQ(form.size(), QSize(590, 241));
    auto* panel = form.findChild<QFrame*>("PanelConfiguring");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->geometry(), QRect(20, 56, 550, 169));
    EXPECT_EQ(form.findChild<QLabel*>("Label1")->text(), "Pobieranie ustawień");
    auto* memo = form.findChild<QPlainTextEdit*>("Memo1");
    EXPECT_EQ(memo->geometry(), QRect(0, 48, 550, 105));
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_TRUE(memo->toPlainText().isEmpty());
    auto* timer = form.findChild<QTimer*>("Timer1");
    EXPECT_EQ(timer->interval(), 100);
    EXPECT_TRUE(timer->isSingleShot());
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(controllers_built, 0);
}

TEST_F(ChooseTerminalTest, BuildsOneColumnOfButtonsAndFitsTheWindowAroundIt) {
    TFormChooseTerminal form(creator(), dialogs);
    show_and_load(form);
    const QPoint top_left = form.pos();

    const char* const names[] = {"t0", "t1", "t2"};
    const QRect expected[] = {{10, 20, 400, 40}, {10, 62, 400, 40}, {10, 104, 400, 40}};
    for (int i = 0; i < 3; ++i) {
        auto* b = button(form, names[i]);
        ASSERT_NE(b, nullptr) << i;
        EXPECT_EQ(b->geometry(), expected[i]);
        EXPECT_EQ(b->property("tag").toInt(), i);
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus);
    }
    EXPECT_EQ(button(form, "t3"), nullptr);
    EXPECT_EQ(form.size(), QSize(420, 166));
    EXPECT_EQ(form.pos(), top_left);
    EXPECT_TRUE(form.findChild<QFrame*>("PanelConfiguring")->isHidden());
    EXPECT_TRUE(dialogs.errors.empty());
    // The window was the controller's only listener and shows the values raw.
    EXPECT_EQ(controller->listener().get(), static_cast<core::TCoreListener*>(&form));
    EXPECT_EQ(form.findChild<QPlainTextEdit*>("Memo1")->toPlainText(),
              "download_start|qiv_start_2.xml");
}

TEST_F(ChooseTerminalTest, PaintsFillFrameAndTextsAndFollowsThePointer) {
    TFormChooseTerminal form(creator(), dialogs);
    show_and_load(form);
    auto* b = button(form, "t1");
    ASSERT_NE(b, nullptr);

    const QImage normal = b->grab().toImage();
    for (const QPoint corner : {QPoint(0, 0), QPoint(399, 0), QPoint(0, 39), QPoint(399, 39)}) {
        EXPECT_EQ(QColor(normal.pixel(corner)), kBlue) << corner.x() << "," << corner.y();
    }
    // The square at the left end holds only the fill. The name's text cell starts at (45, 8),
    // the version's at (340, 24): their ink lies where the fonts put it inside such cells.
    QRect name_ink, version_ink;
    for (int y = 1; y < 39; ++y) {
        for (int x = 1; x < 399; ++x) {
            if (QColor(normal.pixel(x, y)) == kRed)
                continue;
            ASSERT_GE(x, 45) << x << "," << y;
            (x < 340 ? name_ink : version_ink) |= QRect(x, y, 1, 1);
        }
    }
    expect_ink_near(name_ink, "Arial", -19, true, false, "Terminal B", QPoint(45, 8));
    expect_ink_near(version_ink, "Arial", 13, false, true, "2.0.0.2", QPoint(340, 24));

    QEnterEvent enter(QPointF(5, 5), QPointF(15, 67), QPointF(15, 67));
    QApplication::sendEvent(b, &enter);
    EXPECT_EQ(pixel(b, 5, 20), kLime);
    EXPECT_EQ(pixel(b, 0, 20), kBlue);
    EXPECT_EQ(pixel(button(form, "t0"), 5, 20), kRed);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(b, &leave);
    EXPECT_EQ(b->grab().toImage(), normal);
}

// The version's 13 pixels are its font's cell, leading included: text reaching from an accent
// down to a descender fills the cell at (340, 24) and stays inside it.
TEST_F(ChooseTerminalTest, VersionTextFillsACellThirteenPixelsHigh) {
    terminals = {std::make_shared<test::TFakeTerminal>("Terminal A", "Ąg|", "A")};
    TFormChooseTerminal form(creator(), dialogs);
    show_and_load(form);
    const QImage picture = button(form, "t0")->grab().toImage();
    QRect ink;
    for (int y = 1; y < 39; ++y) {
        for (int x = 340; x < 399; ++x) {
            if (QColor(picture.pixel(x, y)) != kRed)
                ink |= QRect(x, y, 1, 1);
        }
    }
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GE(ink.top(), 24);
    EXPECT_LE(ink.bottom(), 24 + 12);
    EXPECT_GE(ink.height(), 11);
}

TEST_F(ChooseTerminalTest, ClickChoosesTheTerminalAndEndsWithResultOne) {
    TFormChooseTerminal form(creator(), dialogs);
    show_and_load(form);
    EXPECT_EQ(form.get_chosen_terminal_code(), "");
    QTest::mouseClick(button(form, "t2"), Qt::LeftButton, {}, QPoint(200, 20));
    EXPECT_EQ(form.result(), 1);
    EXPECT_EQ(form.get_chosen_terminal_code(), "C");
    EXPECT_FALSE(form.isVisible());
}

TEST_F(ChooseTerminalTest, WithoutTerminalsOnlyTheMarginsRemain) {
    terminals.clear();
    TFormChooseTerminal form(creator(), dialogs);
    show_and_load(form);
    EXPECT_EQ(form.findChildren<TTerminalButton*>().size(), 0);
    EXPECT_EQ(form.size(), QSize(420, 40));
    EXPECT_TRUE(form.findChild<QFrame*>("PanelConfiguring")->isHidden());
}

TEST_F(ChooseTerminalTest, LoadingFailureIsShownAndTheWindowStaysWithItsPanel) {
    creation_error = "Nie można pobrać listy serwerów";
    TFormChooseTerminal form(creator(), dialogs);
    show_and_load(form);
    EXPECT_EQ(dialogs.errors, std::vector<std::string>{"Nie można pobrać listy serwerów"});
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.findChild<QFrame*>("PanelConfiguring")->isHidden());
    EXPECT_EQ(form.size(), QSize(590, 241));
}

TEST_F(ChooseTerminalTest, SettingFailingMidwayKeepsTheButtonsBuiltSoFar) {
    config->failing_width_call = 2;  // while the second button is built
    TFormChooseTerminal form(creator(), dialogs);
    show_and_load(form);
    EXPECT_EQ(dialogs.errors, std::vector<std::string>{"Brak wartości btnWidth"});
    ASSERT_NE(button(form, "t0"), nullptr);
    EXPECT_EQ(pixel(button(form, "t0"), 5, 20), kRed);
    EXPECT_EQ(form.findChildren<TTerminalButton*>().size(), 1);
    EXPECT_FALSE(form.findChild<QFrame*>("PanelConfiguring")->isHidden());
    EXPECT_EQ(form.size(), QSize(590, 241));
}

TEST_F(ChooseTerminalTest, ClosingWhileLoadingTakesEffectWhenTheLoadingEnds) {
    TFormChooseTerminal* shown = nullptr;
    on_load = [&] {
        shown->reject();
        EXPECT_TRUE(shown->isVisible());
    };
    TFormChooseTerminal form(creator(), dialogs);
    shown = &form;
    show_and_load(form);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(form.get_chosen_terminal_code(), "");
    EXPECT_EQ(controllers_built, 1);
}

// Only the close box closes the window; Esc, while loading or after, does not.
TEST_F(ChooseTerminalTest, EscDoesNotCloseTheWindow) {
    TFormChooseTerminal* shown = nullptr;
    on_load = [&] { QTest::keyClick(shown->findChild<QPlainTextEdit*>("Memo1"), Qt::Key_Escape); };
    TFormChooseTerminal form(creator(), dialogs);
    shown = &form;
    show_and_load(form);
    EXPECT_TRUE(form.isVisible());
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.result(), 0);
}

TEST(Colors, ConfigurationValuesBecomeQtColours) {
    QPalette palette;
    palette.setColor(QPalette::Button, QColor(1, 2, 3));
    palette.setColor(QPalette::Highlight, QColor(4, 5, 6));
    palette.setColor(QPalette::ButtonText, QColor(7, 8, 9));
    EXPECT_EQ(to_qcolor(0x00336699, palette, QPalette::ButtonText), QColor(0x99, 0x66, 0x33));
    EXPECT_EQ(to_qcolor(static_cast<core::TColor>(0xFF00000F), palette, QPalette::ButtonText),
              QColor(1, 2, 3));
    EXPECT_EQ(to_qcolor(static_cast<core::TColor>(0xFF00000D), palette, QPalette::ButtonText),
              QColor(4, 5, 6));
    EXPECT_EQ(to_qcolor(kColorNone, palette, QPalette::ButtonText).alpha(), 0);
    EXPECT_EQ(to_qcolor(kColorDefault, palette, QPalette::ButtonText), QColor(7, 8, 9));
    // An index that names no system colour gives the default as well.
    EXPECT_EQ(to_qcolor(static_cast<core::TColor>(0xFF000019), palette, QPalette::ButtonText),
              QColor(7, 8, 9));
}

}  // namespace
}  // namespace qiv_start::ui

#include "ui/dialogs.h"

#include <gtest/gtest.h>

#include "qt_test_environment.h"

namespace qiv_start::ui {
namespace {

// Nobody can answer a box on the offscreen platform: the text goes to standard error, the
// answer is the cautious one, and nothing waits.
TEST(MessageBoxDialogs, WithoutAScreenTheTextGoesToStandardErrorAndNoIsTheAnswer) {
    ASSERT_EQ(QGuiApplication::platformName(), "offscreen");
    TMessageBoxDialogs dialogs;
    ::testing::internal::CaptureStderr();
    dialogs.warning("Nazwa pliku\rjest zła");
    const bool yes = dialogs.ask_yes_no("Czy zrobi to teraz?");
    dialogs.error("Błąd");
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(yes);
    EXPECT_EQ(printed, "uwaga: Nazwa pliku\njest zła\nuwaga: Czy zrobi to teraz?\nbłąd: Błąd\n");
}

}  // namespace
}  // namespace qiv_start::ui

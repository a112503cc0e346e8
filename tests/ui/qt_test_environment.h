// One QApplication for all tests of an executable, on the offscreen platform unless the caller
// chose another one. The Windows build links only the native platform, whose windows the tests
// then show on the desktop.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace qiv_start::test {

class TQtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
#ifndef Q_OS_WIN
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override {
        application_.reset();
    }

  private:
    char name_[16] = "qiv_ui_test";
    char* argv_[2] = {name_, nullptr};
    int argc_ = 1;
    std::unique_ptr<QApplication> application_;
};

inline ::testing::Environment* const qt_environment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

}  // namespace qiv_start::test

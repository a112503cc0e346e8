#include "ui/form_start_terminal.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "core/download/downloader_prod.h"
#include "core/support/error.h"
#include "qt_test_environment.h"
#include "support/test_http_server.h"
#include "ui/borrowed_listener.h"
#include "ui_fakes.h"

namespace qiv_start::ui {
namespace {

class StartTerminalTest : public ::testing::Test {
  protected:
    void tell(const std::string& value) { form.notify(core::TCoreMessage(core::info, value)); }
    QString events() const { return form.findChild<QPlainTextEdit*>("MemoEvents")->toPlainText(); }
    QString counter() const { return form.findChild<QLabel*>("LabelFileCount")->text(); }
    QProgressBar* bar(const char* name) const { return form.findChild<QProgressBar*>(name); }

    // Shows the window and waits until it has run its work.
    void show_and_run() {
        QSignalSpy finished(&form, &QDialog::finished);
        form.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return ran || !finished.isEmpty(); }));
    }

    test::TScriptedDialogs dialogs;
    TFormStartTerminal form{dialogs};
    bool ran = false;
};

TEST_F(StartTerminalTest, StartsEmptyWithItsCaptions) {
    EXPECT_EQ(form.windowTitle(), "Uruchamianie Terminala");
    EXPECT_EQ(form.size(), QSize(431, 175));
    EXPECT_EQ(counter(), "<->");
    for (const char* name : {"ProgressBarFileCount", "ProgressBarFileDownload"}) {
        EXPECT_EQ(bar(name)->minimum(), 0) << name;
        EXPECT_EQ(bar(name)->maximum(), 100) << name;
        EXPECT_EQ(bar(name)->value(), 0) << name;
    }
    EXPECT_TRUE(events().isEmpty());
    EXPECT_FALSE(form.findChild<QPlainTextEdit*>("MemoEvents")->isReadOnly());
    EXPECT_FALSE(form.findChild<QTimer*>("Timer1")->isActive());
}

TEST_F(StartTerminalTest, EveryDownloadLeavesItsNameAndOneHundredPercent) {
    tell("download_start|servers.cfg");
    tell("file_size|1024");
    EXPECT_EQ(events(), "pobieranie pliku \"servers.cfg\"\n-informacja: file_size|1024");
    tell("downloaded_prc|37");
    EXPECT_EQ(events(), "pobieranie pliku \"servers.cfg\"\npobrano: 37%");
    EXPECT_EQ(bar("ProgressBarFileDownload")->value(), 37);
    tell("download_finished|servers.cfg");
    tell("download_start|qiv_start_2.xml");
    EXPECT_EQ(bar("ProgressBarFileDownload")->value(), 0);
    tell("file_size|99");
    tell("download_finished|qiv_start_2.xml");
    EXPECT_EQ(events(),
              "pobieranie pliku \"servers.cfg\"\npobrano: 100%\n"
              "pobieranie pliku \"qiv_start_2.xml\"\npobrano: 100%");
    EXPECT_EQ(bar("ProgressBarFileDownload")->value(), 100);
}

TEST_F(StartTerminalTest, RealDownloadsLeaveTheirNamesAndOneHundredPercent) {
    test::TTestHttpServer server;
    server.serve("servers.cfg", std::string(3000, 's'));
    server.serve_chunked("a b.txt", "no size announced");
    core::TDownloaderProd downloader(borrowed_listener(&form), {server.base_url()});

    core::TMemoryStream first, second;
    downloader.download_file_from_server("servers.cfg", first);
    downloader.download_file_from_server("a b.txt", second);

    // A name with a blank is cut at the blank; the request itself went out unchanged.
    EXPECT_EQ(events(),
              "pobieranie pliku \"servers.cfg\"\npobrano: 100%\n"
              "pobieranie pliku \"a\"\npobrano: 100%");
    EXPECT_EQ(counter(), "pliki terminala\n2/100");
    EXPECT_EQ(bar("ProgressBarFileDownload")->value(), 100);
}

TEST_F(StartTerminalTest, CounterRunsAgainstOneHundredUntilTheFileCountArrives) {
    tell("download_start|servers.cfg");
    EXPECT_EQ(counter(), "pliki terminala\n1/100");
    tell("download_start|qiv_start_2.xml");
    EXPECT_EQ(counter(), "pliki terminala\n2/100");
    tell("file_count|12");
    EXPECT_EQ(counter(), "pliki terminala\n0/12");
    EXPECT_EQ(bar("ProgressBarFileCount")->maximum(), 12);
    tell("download_start|a.dll");
    EXPECT_EQ(counter(), "pliki terminala\n1/12");
}

TEST_F(StartTerminalTest, CounterStaysWithinItsRange) {
    tell("file_count|0");
    EXPECT_EQ(counter(), "pliki terminala\n0/0");
    tell("download_start|a.dll");
    EXPECT_EQ(counter(), "pliki terminala\n0/0");
    tell("file_count|1");
    tell("download_start|a.dll");
    tell("download_start|b.dll");
    EXPECT_EQ(counter(), "pliki terminala\n1/1");
    tell("downloaded_prc|250");
    EXPECT_EQ(bar("ProgressBarFileDownload")->value(), 100);
    EXPECT_EQ(events().split('\n').last(), "pobrano: 250%");
}

TEST_F(StartTerminalTest, OtherValuesAreShownWholeAsEventsDetailsNot) {
    tell("download_start|a b.txt");
    tell("pobieranie plików wspólnych");
    form.notify(core::TCoreMessage(core::detail, "serwer http://a/: przekroczony czas"));
    form.notify(core::TCoreMessage(core::error, "Terminal z kodem \"X\" nie jest dostępny."));
    EXPECT_EQ(events(),
              "pobieranie pliku \"a\"\n-informacja: pobieranie plików wspólnych\n"
              "-błąd: Terminal z kodem \"X\" nie jest dostępny.");
}

TEST_F(StartTerminalTest, IncompleteProgressMessagesReadNothingMissing) {
    tell("download_finished");  // nothing to replace yet: the line becomes the first
    EXPECT_EQ(events(), "pobrano: 100%");
    tell("download_start");
    tell("");
    EXPECT_EQ(events(), "pobrano: 100%\n-informacja: download_start\n-informacja: ");
    EXPECT_EQ(counter(), "<->");
}

TEST_F(StartTerminalTest, PercentageOrFileCountThatIsNoNumberFailsAndChangesNothing) {
    tell("download_start|a.dll");
    for (const char* value :
         {"downloaded_prc|abc", "downloaded_prc|", "file_count|1x", "file_count|99999999999"}) {
        EXPECT_THROW(tell(value), core::TError) << value;
    }
    EXPECT_EQ(events(), "pobieranie pliku \"a.dll\"");
    EXPECT_EQ(counter(), "pliki terminala\n1/100");
    EXPECT_EQ(bar("ProgressBarFileDownload")->value(), 0);
}

TEST_F(StartTerminalTest, RunsTheWorkWithItselfAsListenerThenEndsWithResultOne) {
    form.set_exec_proc([&](std::shared_ptr<core::TCoreListener> listener) {
        EXPECT_EQ(listener.get(), static_cast<core::TCoreListener*>(&form));
        listener->notify(core::TCoreMessage(core::info, "download_start|a.dll"));
        form.reject();  // the close box while the work runs
        EXPECT_TRUE(form.isVisible());
        ran = true;
    });
    show_and_run();
    EXPECT_EQ(events(), "pobieranie pliku \"a.dll\"");
    EXPECT_EQ(form.result(), 1);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(StartTerminalTest, WithoutWorkTheWindowClosesAtOnce) {
    show_and_run();
    EXPECT_EQ(form.result(), 1);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(StartTerminalTest, FailingWorkIsShownAndTheWindowStaysOpen) {
    form.set_exec_proc([&](std::shared_ptr<core::TCoreListener> listener) {
        listener->notify(core::TCoreMessage(core::info, "download_start|a.dll"));
        ran = true;
        throw core::TError("Brak dostępu do serwera");
    });
    show_and_run();
    EXPECT_EQ(dialogs.errors, std::vector<std::string>{"Brak dostępu do serwera"});
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.result(), 0);
    EXPECT_EQ(events(), "pobieranie pliku \"a.dll\"");
    form.reject();
    EXPECT_FALSE(form.isVisible());
}

// Only the close box closes the window: Esc neither while the work runs nor after it failed.
TEST_F(StartTerminalTest, EscDoesNotCloseTheWindow) {
    auto* memo = form.findChild<QPlainTextEdit*>("MemoEvents");
    form.set_exec_proc([&](std::shared_ptr<core::TCoreListener>) {
        QTest::keyClick(memo, Qt::Key_Escape);
        ran = true;
        throw core::TError("Brak dostępu do serwera");
    });
    show_and_run();
    QTest::keyClick(memo, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
}

TEST_F(StartTerminalTest, FailingWorkWithNobodyAtTheScreenClosesTheWindow) {
    dialogs.attended = false;
    form.set_exec_proc([&](std::shared_ptr<core::TCoreListener>) {
        ran = true;
        throw core::TError("Brak dostępu do serwera");
    });
    show_and_run();
    EXPECT_EQ(dialogs.errors, std::vector<std::string>{"Brak dostępu do serwera"});
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), 0);
}

}  // namespace
}  // namespace qiv_start::ui

// Renders the chooser window and the start progress window with sample data into PNG files:
// render_windows <output directory>.
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QTest>
#include <cstdio>

#include "ui/form_choose_terminal.h"
#include "ui/form_start_terminal.h"
#include "ui_fakes.h"

namespace {

using namespace qiv_start;

bool save(QWidget& window, const QDir& directory, const char* name) {
    const QString path = directory.filePath(QString::fromLatin1(name));
    if (window.grab().save(path, "PNG"))
        return true;
    std::fprintf(stderr, "render_windows: cannot write %s\n", qPrintable(path));
    return false;
}

core::TTerminalConfigs sample_terminals() {
    return {std::make_shared<test::TFakeTerminal>("Terminal kasowy", "2.4.1.17", "KAS"),
            std::make_shared<test::TFakeTerminal>("Terminal magazynowy", "1.9.0.3", "MAG"),
            std::make_shared<test::TFakeTerminal>("Księgowość i płace", "3.0.2.41", "KSP")};
}

// The chooser with its buttons built and the pointer over the second one.
bool render_chooser(const QDir& directory) {
    auto config = std::make_shared<test::TFakeConfig>();
    config->normal = 0xF0CAA6;     // sky blue
    config->highlight = 0xC0DCC0;  // money green
    config->text = 0x800000;       // navy
    config->frame = 0x808080;      // grey
    test::TScriptedDialogs dialogs;
    std::shared_ptr<core::TController> controller;
    ui::TFormChooseTerminal chooser(
        [&](const std::shared_ptr<core::TCoreListener>& listener) {
            controller =
                std::make_shared<test::TFakeController>(config, sample_terminals(), listener);
            return controller;
        },
        dialogs);
    chooser.show();
    if (!QTest::qWaitFor([&] { return chooser.findChild<QWidget*>("t2") != nullptr; })) {
        std::fprintf(stderr, "render_windows: the chooser built no buttons\n");
        return false;
    }
    QWidget* hovered = chooser.findChild<QWidget*>("t1");
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(hovered, &enter);
    return save(chooser, directory, "chooser.png");
}

void tell(core::TCoreListener& listener, const std::string& value) {
    listener.notify(core::TCoreMessage(core::info, value));
}

// The progress window in the middle of a terminal's files.
bool render_progress(const QDir& directory) {
    test::TScriptedDialogs dialogs;
    ui::TFormStartTerminal window(dialogs);
    bool saved = false;
    window.set_exec_proc([&](std::shared_ptr<core::TCoreListener> listener) {
        for (const char* value :
             {"download_start|servers.cfg", "file_size|64", "download_finished|servers.cfg",
              "download_start|qiv_start_2.xml", "file_size|5120", "downloaded_prc|50",
              "download_finished|qiv_start_2.xml", "file_count|12", "pobieranie plików wspólnych",
              "download_start|kasa.exe", "file_size|2097152", "downloaded_prc|37"}) {
            tell(*listener, value);
        }
        saved = save(window, directory, "progress.png");
    });
    window.exec();
    return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: render_windows <output directory>\n");
        return 2;
    }
    QApplication application(argc, argv);
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    const bool chooser = render_chooser(directory);
    const bool progress = render_progress(directory);
    return chooser && progress ? 0 : 1;
}

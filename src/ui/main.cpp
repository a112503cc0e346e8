// The launcher's entry: runs the start-up sequence and ends with its exit code.
#include <QApplication>
#include <QStringList>
#include <string>
#include <vector>

#include "ui/cmd_interface.h"
#include "ui/dialogs.h"
#include "ui/start_services.h"

int main(int argc, char* argv[]) {
#ifdef Q_OS_WIN
    // The windows are laid out in pixels: the program declares no DPI awareness and the system
    // scales it, unless a platform is chosen from outside.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "windows:dpiawareness=0");
#endif
    QApplication application(argc, argv);
    std::vector<std::string> arguments;
    const QStringList command_line = QCoreApplication::arguments();
    for (qsizetype i = 1; i < command_line.size(); ++i) {
        arguments.push_back(command_line[i].toStdString());
    }
    qiv_start::ui::TMessageBoxDialogs dialogs;
    qiv_start::ui::TQivStartApplication launcher(std::move(arguments),
                                                 qiv_start::ui::production_services(), dialogs);
    return launcher.run();
}

// The launcher's entry: runs the start-up sequence and ends with its exit code.
#include <QApplication>
#include <string>
#include <vector>

#include "platform/process.h"
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
    // The toolkit sees only the program's name: it would take a terminal code such as -reverse or
    // -style for an option of its own and remove it.
    std::vector<std::string> arguments = qiv_start::platform::command_line_arguments(argc, argv);
    int toolkit_argc = argc > 0 ? 1 : 0;
    QApplication application(toolkit_argc, argv);
    qiv_start::ui::TMessageBoxDialogs dialogs;
    qiv_start::ui::TQivStartApplication launcher(std::move(arguments),
                                                 qiv_start::ui::production_services(), dialogs);
    return launcher.run();
}

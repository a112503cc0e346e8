#include "ui/start_services.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>
#include <QtGlobal>

#include "core/support/auto_file_listener.h"
#include "core/terminal/controller_prod_factory.h"
#include "core/terminal/self_update.h"
#include "core/terminal/working_folder.h"
#include "platform/desktop.h"
#include "platform/process.h"

namespace qiv_start::ui {
namespace {

// Set by the upgrade copy for the launcher it starts once it took its place.
const char* const kUpdateMark = "QIV_START_UPDATED";

void open_in_browser(const std::string& url) {
    if (!QDesktopServices::openUrl(QUrl(QString::fromStdString(url))))
        platform::open_url(url);
}

core::TTransportOptions transport() {
    core::TTransportOptions options;
#ifdef QIV_BENCH_CA_VARIABLE
    // Benchmark builds only: a test authority is trusted instead of the system's store, so that
    // HTTPS can be timed against a local server. Other builds have no such door.
    options.ca_file = qEnvironmentVariable("QIV_BENCH_CA_FILE").toStdString();
#endif
    return options;
}

}  // namespace

TStartServices production_services() {
    TStartServices services;
    services.executable_path = platform::executable_path;
    services.foreign_working_folder = core::foreign_working_folder;
    // One pool for the run: the version check, the chooser and the start reuse one another's
    // connections. Made with the first controller, so that a failure shows where it always did.
    auto pool = std::make_shared<std::shared_ptr<core::TConnectionPool>>();
    services.create_controller = [pool](const std::shared_ptr<core::TCoreListener>& listener) {
        if (!*pool)
            *pool = std::make_shared<core::TConnectionPool>(transport());
        return core::create_controller(listener, *pool);
    };
    services.create_version_check_log = [] { return core::open_run_log("check_version"); };
    services.create_run_log = [] { return core::open_run_log("qiv_start"); };
    services.open_url = open_in_browser;
    services.close_windows_titled = platform::close_windows_titled;
    // The run's threads (the connection pool's among them) may still run: the process neither
    // waits for them nor destroys what they use. The run logs are on disk.
    services.end_process = platform::end_process_now;
    services.start_program = platform::start_program_with;
    services.is_program_running = platform::is_program_running;
    services.check_update = core::refuse_upgrade;
    services.mark_update = [] { platform::set_environment(kUpdateMark, "1"); };
    services.take_update_mark = [] { return platform::take_environment(kUpdateMark).has_value(); };
    services.prepare_user_copy = core::prepare_user_copy;
    services.run_program = platform::run_program;
    return services;
}

}  // namespace qiv_start::ui

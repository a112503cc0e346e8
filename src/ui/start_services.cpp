#include "ui/start_services.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>
#include <QtGlobal>
#include <cstdlib>

#include "core/support/auto_file_listener.h"
#include "core/terminal/controller_prod_factory.h"
#include "platform/desktop.h"
#include "platform/process.h"

namespace qiv_start::ui {
namespace {

void open_in_browser(const std::string& url) {
    if (!QDesktopServices::openUrl(QUrl(QString::fromStdString(url))))
        platform::open_url(url);
}

#ifdef QIV_BENCH_CA_VARIABLE
// Benchmark builds only: the repository's test authority is trusted instead of the system's store,
// so that HTTPS can be timed against a local server. Release builds have no such door.
core::TTransportOptions bench_transport() {
    core::TTransportOptions options;
    options.ca_file = qEnvironmentVariable("QIV_BENCH_CA_FILE").toStdString();
    return options;
}
#endif

}  // namespace

TStartServices production_services() {
    TStartServices services;
    services.executable_path = platform::executable_path;
#ifdef QIV_BENCH_CA_VARIABLE
    services.create_controller = [](const std::shared_ptr<core::TCoreListener>& listener) {
        return core::create_controller(listener, bench_transport());
    };
#else
    services.create_controller = [](const std::shared_ptr<core::TCoreListener>& listener) {
        return core::create_controller(listener);
    };
#endif
    services.create_version_check_log = [] {
        return std::make_shared<core::TAutoFileListener>("check_version");
    };
    services.create_run_log = [] { return std::make_shared<core::TAutoFileListener>(); };
    services.open_url = open_in_browser;
    services.close_windows_titled = platform::close_windows_titled;
    services.end_process = [](int exit_code) { std::exit(exit_code); };
    return services;
}

}  // namespace qiv_start::ui

#include "launcher_test.h"

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace qiv_start::test {

namespace fs = std::filesystem;

std::string output_of(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("cannot run " + command);
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    if (::pclose(pipe) != 0)
        throw std::runtime_error("command failed: " + command);
    return output;
}

LauncherTest::LauncherTest(fs::path launcher) : launcher_(std::move(launcher)) {
    fs::create_directories(work_ / "config");
}

std::string LauncherTest::serve(const fs::path& root) {
    const std::string port =
        output_of(script("scripts/nginx-serve") + " start " + quoted(root) + " " + quoted(nginx_));
    return "http://127.0.0.1:" + port.substr(0, port.find('\n')) + "/";
}

void LauncherTest::stop_serving() {
    output_of(script("scripts/nginx-serve") + " stop " + quoted(nginx_));
}

int LauncherTest::run_launcher(const std::string& arguments) {
    const std::string command =
        "cd " + quoted(work_) + " && env XDG_CONFIG_HOME=" + quoted(config_home_) +
        " QT_QPA_PLATFORM=offscreen timeout 120 " + quoted(launcher_) + " " + arguments + " >" +
        quoted(dir_.path() / "launcher.out") + " 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string LauncherTest::log(const std::string& prefix) const {
    fs::path newest;
    for (const auto& entry : fs::directory_iterator(work_ / "logs")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix + "_", 0) == 0 && (newest.empty() || entry.path() > newest))
            newest = entry.path();
    }
    return newest.empty() ? std::string() : read_bytes(newest);
}

std::string LauncherTest::started_record(const std::string& terminal) const {
    // The terminal writes its record line by line; the arguments come last.
    const fs::path record = work_ / "terminale" / terminal / "started.txt";
    const auto complete = [&] {
        return fs::exists(record) && read_bytes(record).find("argumenty:") != std::string::npos;
    };
    for (int i = 0; i < 100 && !complete(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return fs::exists(record) ? read_bytes(record) : std::string();
}

void LauncherTest::forget_start() const {
    fs::remove(work_ / "terminale" / "kasa" / "started.txt");
}

}  // namespace qiv_start::test

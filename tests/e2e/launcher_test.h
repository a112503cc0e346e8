// What the end-to-end tests share: nginx serving a folder, and the built launcher run as a process
// in a working folder and a per-user configuration folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/shell.h"
#include "support/temp_dir.h"

namespace qiv_start::test {

// Runs a shell command and returns its standard output; raises on a non-zero exit.
std::string output_of(const std::string& command);

class LauncherTest : public ::testing::Test {
  protected:
    explicit LauncherTest(std::filesystem::path launcher);
    void TearDown() override { stop_serving(); }

    // Starts nginx on the folder and returns its base URL.
    std::string serve(const std::filesystem::path& root);
    void stop_serving();
    // The launcher's exit code, 124 when it is still running after two minutes (waiting for
    // input in a window, say); its output goes to launcher.out. The runner, a command such as
    // setpriv with its options, runs the launcher.
    int run_launcher(const std::string& arguments, const std::string& runner = "");
    // The newest run log with the prefix.
    std::string log(const std::string& prefix) const;
    // What the sample terminal wrote when it started, waiting a bounded while for it.
    std::string started_record(const std::string& terminal = "kasa") const;
    void forget_start() const;

    TTempDir dir_;
    std::filesystem::path nginx_ = dir_.path() / "nginx";
    std::filesystem::path work_ = dir_.path() / "work";
    std::filesystem::path config_home_ = dir_.path() / "config-home";
    std::filesystem::path launcher_;
};

}  // namespace qiv_start::test

// Repository folders for the tool's tests: real files in a temporary folder, and the tool run as
// its command line would run it.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "qiv_repo/cli.h"
#include "support/shell.h"
#include "support/temp_dir.h"

namespace qiv_start::test {

class RepositoryTest : public ::testing::Test {
  protected:
    // Runs the tool in this process; out_ and err_ hold what it wrote.
    int run(const std::vector<std::string>& arguments) {
        out_.str({});
        err_.str({});
        repo::TConsole console{out_, err_, false};
        return repo::run_cli(arguments, console);
    }

    void write(const std::string& name, const std::string& bytes) {
        write_bytes(repository_ / name, bytes);
    }
    std::string read(const std::string& name) const { return read_bytes(repository_ / name); }
    std::string path() const { return repository_.string(); }

    TTempDir dir_;
    std::filesystem::path repository_ = dir_.path() / "repository";
    std::ostringstream out_;
    std::ostringstream err_;
};

// The document's start: root element with the namespace and the look-and-feel values that the
// launcher reads; body goes inside the root.
inline std::string document(const std::string& body, const std::string& bom = "\xEF\xBB\xBF") {
    return bom +
           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\">\n"
           "  <clBtnNormal value=\"clWhite\"/><clBtnHighlight value=\"clWhite\"/>\n"
           "  <clBtnFrame value=\"clNavy\"/><clBtnText value=\"clBlack\"/>\n"
           "  <btnWidth value=\"400\"/><btnHeight value=\"40\"/>\n"
           "  <margin value=\"10\"/><topMargin value=\"20\"/>\n" +
           body + "</qiv_start>\n";
}

// Runs a shell command; its exit code.
inline int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a shell command with its standard output in output; its exit code.
inline int shell_output(const std::string& command, std::string& output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace qiv_start::test

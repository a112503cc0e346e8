// qiv_repo: the repository administrator's tool.
#include <iostream>

#include "core/support/error.h"
#include "platform/console.h"
#include "qiv_repo/cli.h"

int main(int argc, char** argv) {
    using namespace qiv_start;
    repo::TConsole console{std::cout, std::cerr,
                           platform::is_terminal(platform::TStandardStream::kError)};
    try {
        return repo::run_cli(std::vector<std::string>(argv + 1, argv + argc), console);
    } catch (const std::exception& failure) {
        std::cerr << "Błąd: " << failure.what() << "\n";
        return repo::kExitProblems;
    }
}

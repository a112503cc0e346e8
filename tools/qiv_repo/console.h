// Where a command writes: results to one stream, errors to another, and whether a person watches.
#pragma once

#include <ostream>

namespace qiv_start::repo {

struct TConsole {
    std::ostream& out;
    std::ostream& err;
    // A terminal shows a progress bar that redraws itself; anything else gets plain lines.
    bool interactive = false;
};

// Exit codes of every command.
enum TExitCode { kExitOk = 0, kExitProblems = 1, kExitWrongUse = 2 };

}  // namespace qiv_start::repo

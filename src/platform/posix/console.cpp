#include "platform/console.h"

#include <unistd.h>

namespace qiv_start::platform {

bool is_terminal(TStandardStream stream) {
    return ::isatty(stream == TStandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

}  // namespace qiv_start::platform

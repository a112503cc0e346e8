#include "platform/console.h"

#include <io.h>

#include <cstdio>

namespace qiv_start::platform {

bool is_terminal(TStandardStream stream) {
    return ::_isatty(::_fileno(stream == TStandardStream::kOutput ? stdout : stderr)) != 0;
}

}  // namespace qiv_start::platform

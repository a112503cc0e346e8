// The process's standard streams.
#pragma once

namespace qiv_start::platform {

enum class TStandardStream { kOutput, kError };

// True when the stream goes to a terminal that a person watches, not to a file or a pipe.
bool is_terminal(TStandardStream stream);

}  // namespace qiv_start::platform

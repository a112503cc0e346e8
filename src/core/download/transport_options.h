// How downloads reach the repository servers: trust, time limits and the size of a body whose
// length is not announced.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qiv_start::core {

// Servers announce the length of every static file, so this only stops one that streams without
// end; it lies far above any file a terminal ships.
constexpr std::int64_t kMaxUnannouncedSize = std::int64_t{4} * 1024 * 1024 * 1024;

struct TTransportOptions {
    // PEM file of the certificate authorities trusted instead of the system's store; empty: the
    // system's store.
    std::string ca_file;
    // An unreachable server is given up after this long.
    std::chrono::milliseconds connect_timeout{10000};
    // A server that has sent no byte this long after a request is left for the next. A loaded
    // server over a slow link still sends its status line well within it, while the stall
    // window's 30 s, paid for each request of a run, would add up to minutes.
    std::chrono::milliseconds answer_timeout{10000};
    // An attempt that moves fewer than min_rate bytes per second, averaged over stall_window, is
    // abandoned and the next server asked, unless it shares an HTTP/2 connection that moves that
    // much with all its streams together. No attempt is judged before it has run for a whole
    // window from its request, so a file smaller than min_rate times the window always has that
    // long to arrive.
    std::int64_t min_rate = 1024;
    std::chrono::milliseconds stall_window{30000};
    // A body whose length the answer to HEAD does not announce fails past this many bytes, and
    // the next server is asked.
    std::int64_t max_unannounced_size = kMaxUnannouncedSize;
};

}  // namespace qiv_start::core

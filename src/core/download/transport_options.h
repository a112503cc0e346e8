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
    // An attempt that moves fewer than low_speed_limit bytes per second for low_speed_time fails,
    // so a stalled server is dropped and the next one tried.
    long low_speed_limit = 1;
    std::chrono::seconds low_speed_time{30};
    // A body whose length the answer to HEAD does not announce fails past this many bytes, and
    // the next server is asked.
    std::int64_t max_unannounced_size = kMaxUnannouncedSize;
};

}  // namespace qiv_start::core

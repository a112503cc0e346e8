// How downloads reach the repository servers: trust and time limits.
#pragma once

#include <chrono>
#include <string>

namespace qiv_start::core {

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
};

}  // namespace qiv_start::core

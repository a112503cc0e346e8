// The files of a synchronisation as they are read before any of them is worked on, and the order
// that working on them ahead must keep.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "core/config/config.h"

namespace qiv_start::core {

struct TPlannedFile {
    std::shared_ptr<TFileConfig> config;
    // False when the configuration could not give one of the values below: such a file is
    // handled at its turn alone, the way it always was.
    bool readable = false;
    std::string name;
    std::string target_path;
    std::string hash;
    std::string sha256;  // empty when the configuration publishes none
    std::string local_path;
    bool unzip = false;
};

TPlannedFile plan_file(std::shared_ptr<TFileConfig> file);

// For each file, the last earlier file whose turn may change what it finds: the same local path,
// a path inside the other's (or the other inside its), a path inside the folder where an earlier
// archive is extracted, or any earlier file that is not readable. No such file:
// TLookAhead::kNoPredecessor.
std::vector<std::size_t> predecessors(const std::vector<TPlannedFile>& files);

}  // namespace qiv_start::core

// The checks of a repository folder: what a workstation would trip over, and what works but is
// likely wrong.
#pragma once

#include <string>
#include <vector>

namespace qiv_start::repo {

struct TFinding {
    enum TSeverity { kError, kWarning };
    TSeverity severity = kError;
    std::string source;  // the file it is about: qiv_start_2.xml, servers.cfg, a repository file
    long line = 0;       // 0 when it is about the file as a whole
    std::string text;
};

// Every finding about the folder, ordered by file and line. require_sha256: a file entry without
// <sha256> is an error, as it is for a launcher built with trusted keys.
std::vector<TFinding> check_repository(const std::string& directory, bool require_sha256 = false);

// "qiv_start_2.xml:12: błąd: ..." (without the line when it is 0).
std::string describe(const TFinding& finding);

}  // namespace qiv_start::repo

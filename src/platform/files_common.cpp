// The parts of the file layer that both backends build from their own primitives.
#include "platform/files.h"

namespace qiv_start::platform {

std::string read_file(const std::string& path) {
    TFileReader reader(path);
    std::string content;
    char buffer[65536];
    while (const std::size_t n = reader.read(buffer, sizeof buffer))
        content.append(buffer, n);
    return content;
}

void write_file_atomic(const std::string& path, const std::string& content, TFileAccess access) {
    TAtomicFileWriter writer(path, access);
    writer.write(content.data(), content.size());
    writer.commit();
}

// Both backends name a temporary file: the target's name, ".part", then digits and underscores.
bool is_temporary_name_of(const std::string& name, const std::string& candidate) {
    const std::string prefix = name + ".part";
    if (candidate.size() <= prefix.size() || !candidate.starts_with(prefix))
        return false;
    for (std::size_t at = prefix.size(); at < candidate.size(); ++at) {
        const char c = candidate[at];
        if ((c < '0' || c > '9') && c != '_')
            return false;
    }
    return true;
}

}  // namespace qiv_start::platform

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

}  // namespace qiv_start::platform

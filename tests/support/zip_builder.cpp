#include "support/zip_builder.h"

#include <stdexcept>

namespace qiv_start::test {
namespace {

void check(bool ok, zip_t* archive, const std::string& what) {
    if (!ok)
        throw std::runtime_error(what + ": " + zip_strerror(archive));
}

void add_member(zip_t* archive, const TZipMember& member) {
    if (!member.name.empty() && member.name.back() == '/') {
        check(zip_dir_add(archive, member.name.c_str(), member.name_encoding) >= 0, archive,
              "add " + member.name);
        return;
    }
    zip_source_t* source =
        zip_source_buffer(archive, member.content.data(), member.content.size(), 0);
    check(source != nullptr, archive, "source");
    const zip_int64_t added =
        zip_file_add(archive, member.name.c_str(), source, member.name_encoding);
    if (added < 0)
        zip_source_free(source);
    check(added >= 0, archive, "add " + member.name);
    const auto index = static_cast<zip_uint64_t>(added);
    check(zip_set_file_compression(archive, index, member.method, 0) == 0, archive, "method");
    check(zip_file_set_external_attributes(archive, index, 0, ZIP_OPSYS_UNIX,
                                           member.unix_mode << 16) == 0,
          archive, "attributes");
}

}  // namespace

void write_zip(const std::filesystem::path& path, const std::vector<TZipMember>& members) {
    int code = 0;
    // libzip takes UTF-8 names on every system.
    const std::u8string name = path.u8string();
    zip_t* archive =
        zip_open(reinterpret_cast<const char*>(name.c_str()), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (archive == nullptr)
        throw std::runtime_error("cannot create " + path.string());
    try {
        for (const auto& member : members)
            add_member(archive, member);
    } catch (...) {
        zip_discard(archive);
        throw;
    }
    if (zip_close(archive) != 0) {
        const std::string reason = zip_strerror(archive);
        zip_discard(archive);
        throw std::runtime_error("cannot write " + path.string() + ": " + reason);
    }
}

}  // namespace qiv_start::test

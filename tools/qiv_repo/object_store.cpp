#include "qiv_repo/object_store.h"

#include <algorithm>

#include "core/support/error.h"
#include "core/support/md5.h"
#include "core/support/paths.h"
#include "core/support/repository_names.h"
#include "platform/files.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

bool is_digest_name(const std::string& name) {
    return name.size() == 64 && std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

void copy_file_atomic(const std::string& source, const std::string& target) {
    platform::TFileReader reader(source);
    platform::TAtomicFileWriter writer(target);
    std::string buffer(std::size_t{1} << 20, '\0');
    while (const std::size_t n = reader.read(buffer.data(), buffer.size()))
        writer.write(buffer.data(), n);
    writer.commit();
}

std::string clash(const std::string& path) {
    return "obiekt " + path + " ma inną treść, niż mówi jego nazwa (SHA-256)";
}

}  // namespace

std::string object_file(const std::string& directory, const std::string& sha256) {
    return repository_path(directory, core::native_path(core::object_path(lower(sha256))));
}

std::string file_sha256(const std::string& path) {
    return lower(core::get_file_digests(path, true).sha256);
}

bool store_object(const std::string& directory, const std::string& source,
                  const std::string& sha256) {
    const std::string path = object_file(directory, sha256);
    if (platform::file_exists(path)) {
        if (file_sha256(path) != lower(sha256))
            throw core::TError(clash(path));
        return false;
    }
    const std::string folder = path.substr(0, path.find_last_of(platform::path_separator()));
    if (!platform::create_directories(folder))
        throw core::TError("nie udało się utworzyć katalogu " + folder);
    if (!platform::create_hard_link(source, path))
        copy_file_atomic(source, path);
    // Read-only, so that writing over the named file in place (which would change its object,
    // one file under two names) is refused where the system honours it.
    platform::set_permissions(path, 0444);
    if (file_sha256(path) != lower(sha256)) {
        platform::delete_file(path);
        throw core::TError("plik " + source + " zmienił się w trakcie publikowania");
    }
    return true;
}

std::vector<std::string> stored_objects(const std::string& directory) {
    const std::string store = repository_path(directory, "objects");
    std::vector<std::string> digests;
    for (const std::string& prefix : platform::list_directory(store)) {
        const std::string folder = core::join_path(store, prefix);
        for (const std::string& name : platform::list_directory(folder)) {
            if (is_digest_name(name) && name.compare(0, 2, prefix) == 0)
                digests.push_back(name);
        }
    }
    std::sort(digests.begin(), digests.end());
    return digests;
}

bool restore_from_object(const std::string& directory, const std::string& name,
                         const std::string& sha256) {
    const std::string object = object_file(directory, sha256);
    if (!platform::file_exists(object))
        throw core::TError("brak obiektu " + object + " pliku " + name);
    if (file_sha256(object) != lower(sha256))
        throw core::TError(clash(object));
    const std::string target = repository_path(directory, name);
    if (platform::file_exists(target) && file_sha256(target) == lower(sha256))
        return false;
    copy_file_atomic(object, target);
    return true;
}

}  // namespace qiv_start::repo

// The store of objects beside a repository's named files: each file once, under its SHA-256
// (objects/ab/abcdef...), written once and never changed.
#pragma once

#include <string>
#include <vector>

namespace qiv_start::repo {

// The object's path in the folder, for a digest in either letter case.
std::string object_file(const std::string& directory, const std::string& sha256);

// The SHA-256 of a file in lower-case hexadecimal. Raises TError.
std::string file_sha256(const std::string& path);

// Puts the file into the store under sha256: as a second name of the same file where the file
// system allows, else as a copy through the atomic writer. An object already there is never
// written again. Raises TError when the stored bytes are not those the name says (a clashing
// object, or a file changed meanwhile: that new object is taken back). True when it was added.
bool store_object(const std::string& directory, const std::string& source,
                  const std::string& sha256);

// The digests of every object in the store, in lower case, sorted.
std::vector<std::string> stored_objects(const std::string& directory);

// Writes the named copy from its object, unless it holds those bytes already: a copy through the
// atomic writer. Raises TError when the object is missing or its bytes are not its name's. True
// when the named copy changed.
bool restore_from_object(const std::string& directory, const std::string& name,
                         const std::string& sha256);

}  // namespace qiv_start::repo

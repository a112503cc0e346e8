// A temporary directory for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace qiv_start::test {

class TTempDir {
  public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The UTF-8 path of name (UTF-8) inside the directory, as the platform layer takes paths.
    std::string file(const std::string& name) const;

  private:
    std::filesystem::path path_;
};

// Makes the directory the process's current directory for the object's lifetime.
class TCurrentDir {
  public:
    explicit TCurrentDir(const std::filesystem::path& directory);
    ~TCurrentDir();
    TCurrentDir(const TCurrentDir&) = delete;
    TCurrentDir& operator=(const TCurrentDir&) = delete;

  private:
    std::filesystem::path previous_;
};

// Makes folder with a folder "dane" in it, and beside it a folder "poza" with a file "plik" in it;
// then the links in folder: "out" to "poza", "plik" to "poza/plik", "wew" to "dane" and "pusty"
// to "poza/brak", which does not exist. False where the system or the user's rights allow no
// links.
bool make_folder_with_links(const std::filesystem::path& folder);

// Keeps this process from writing into folder while the object lives: by the immutable attribute
// where the process may set it (as root, who may write anywhere else), otherwise by taking the
// folder's write permission. holds() is false where neither works, and on Windows.
class TUnwritableFolder {
  public:
    explicit TUnwritableFolder(std::filesystem::path folder);
    ~TUnwritableFolder();
    TUnwritableFolder(const TUnwritableFolder&) = delete;
    TUnwritableFolder& operator=(const TUnwritableFolder&) = delete;
    bool holds() const { return immutable_ || read_only_; }

  private:
    std::filesystem::path folder_;
    bool immutable_ = false;
    bool read_only_ = false;
};

std::string read_bytes(const std::filesystem::path& file);
void write_bytes(const std::filesystem::path& file, const std::string& bytes);

}  // namespace qiv_start::test

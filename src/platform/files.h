// File system access. Paths are UTF-8 and already in the platform's native form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qiv_start::platform {

// The separator of the native form of a path ('/' on POSIX, '\\' on Windows).
char path_separator();

// True when a regular file (not a directory) exists at the path.
bool file_exists(const std::string& path);
bool directory_exists(const std::string& path);

// Creates the directory and its missing parents; false when the system refused.
bool create_directories(const std::string& path) noexcept;

// Gives the existing file a second name, link, on the same volume: both names are one file. False
// when the system refused (another volume, a file system without links, link already taken).
bool create_hard_link(const std::string& existing, const std::string& link) noexcept;

// Gives a file the permission bits of mode (rwx for owner, group and others) as far as the
// process's file-creation mask allows; set-uid, set-gid and sticky bits are dropped. Raises
// TIoError. Does nothing where files carry no such bits.
void set_permissions(const std::string& path, unsigned mode);

// The absolute form of a path, relative ones resolved against the current directory. Raises
// TIoError when the current directory cannot be determined.
std::string full_path(const std::string& path);

// True when path, relative to folder, leads into folder (or is folder) once every link on it is
// followed, as far as it exists; what does not exist yet is taken by its name. A link that leads
// nowhere counts as leading out, as does a folder that cannot be resolved.
bool stays_inside(const std::string& folder, const std::string& path);

// Size in bytes, or -1 when nothing can be read there.
std::int64_t file_size(const std::string& path);

// Removes a file; raises TIoError naming the file and the system's reason, TFileInUseError when
// another process has it open (Windows; POSIX removes open files).
void delete_file(const std::string& path);

// Removes a temporary file that its writer left behind; raises TFileInUseError while a
// TAtomicFileWriter, of this process or another, still writes it, TIoError otherwise.
void remove_abandoned_temporary(const std::string& path);

// Raises TFileInUseError, with the system's reason, when another program holds the file open in
// a way that keeps it from being replaced (Windows: without sharing its deletion). Anything else,
// a missing file too, is left to the replacement to report. POSIX replaces open files: nothing to
// check there.
void check_replaceable(const std::string& path);

// The names of the entries in a directory, without "." and ".."; empty when it cannot be read.
std::vector<std::string> list_directory(const std::string& path);

// True when candidate is the name of a temporary file that a TAtomicFileWriter makes beside
// the file called name.
bool is_temporary_name_of(const std::string& name, const std::string& candidate);
// True when candidate is the name of a temporary file that a TAtomicFileWriter makes beside any
// file.
bool is_temporary_name(const std::string& candidate);

// Whole-file read; raises TIoError.
std::string read_file(const std::string& path);

// Replaces the file atomically: the content is written to a temporary file beside it, flushed
// to disk and renamed over the target, so readers see either the old or the new file.
// Who may read a file the launcher writes: everyone the system's defaults allow, or its owner; a
// program is also executable, from the moment it appears under its name.
enum class TFileAccess { kDefault, kOwnerOnly, kProgram };

void write_file_atomic(const std::string& path, const std::string& content,
                       TFileAccess access = TFileAccess::kDefault);

// Sequential reader that keeps others from writing the file while it is open where the system
// can (deny-write on Windows).
class TFileReader {
  public:
    explicit TFileReader(const std::string& path);  // raises TIoError
    ~TFileReader();
    TFileReader(const TFileReader&) = delete;
    TFileReader& operator=(const TFileReader&) = delete;

    // Reads up to size bytes; 0 at the end of the file. Raises TIoError.
    std::size_t read(char* buffer, std::size_t size);
    // Moves to an absolute offset; reading there past the end gives 0 bytes. Raises TIoError.
    void seek(std::uint64_t offset);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// kFlushed: the data is on the disk when commit() returns. kDeferred: the caller flushes a whole
// batch of files at once with flush_files().
enum class TDurability { kFlushed, kDeferred };

// Puts the data of files committed with TDurability::kDeferred on the disk. Raises TIoError.
void flush_files(const std::vector<std::string>& paths);

// A temporary file that an earlier writer left with keep(), to be written on.
struct TKeptTemporary {
    std::string path;
};

// Writes a new file under a temporary name beside its target; commit() flushes it and renames it
// into place. A writer destroyed without commit() removes its temporary file, so the target is
// never left half-written.
class TAtomicFileWriter {
  public:
    explicit TAtomicFileWriter(const std::string& path,
                               TFileAccess access = TFileAccess::kDefault);  // raises TIoError
    // Goes on with a kept temporary file of the same target: writes append to what it holds. The
    // caller vouches that it is one (is_temporary_name_of). A link is not followed. Raises
    // TIoError.
    TAtomicFileWriter(const std::string& path, const TKeptTemporary& kept);
    ~TAtomicFileWriter();
    TAtomicFileWriter(const TAtomicFileWriter&) = delete;
    TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

    void write(const char* data, std::size_t size);  // raises TIoError
    // Drops everything written so far.
    void truncate();  // raises TIoError
    // Puts what was written so far on the disk, so that a later commit() has little left to do.
    void flush();  // raises TIoError
    // Raises TIoError; TFileInUseError when another program holds the target open.
    void commit(TDurability durability = TDurability::kFlushed);
    // Closes the temporary file and leaves it on the disk, for a later writer to go on with; the
    // writer does nothing more. Raises TIoError.
    void keep();
    const std::string& path() const { return path_; }
    const std::string& temporary() const;

  private:
    std::string path_;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A file that is kept open for appending; each write goes to the system before it returns.
// The file is created when opened; TFileExistsError when it exists already.
class TLogFile {
  public:
    explicit TLogFile(const std::string& path);  // raises TIoError
    ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    void write(const std::string& data);  // raises TIoError

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// An advisory lock on a folder's lock file, released when the object goes. Other launchers
// honour it; it keeps nobody else from the folder.
class TFolderLock {
  public:
    explicit TFolderLock(const std::string& lock_file);  // raises TIoError
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    // False when another process holds the lock.
    bool try_lock();
    // Waits until the lock is ours.
    void lock();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qiv_start::platform

#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/disk.h"
#include "platform/error.h"
#include "support/temp_dir.h"

namespace qiv_start::platform {
namespace {

namespace fs = std::filesystem;
using test::read_bytes;
using test::TTempDir;
using test::write_bytes;

std::size_t entries_in(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {}));
}

TEST(Files, ExistenceTellsFilesFromDirectories) {
    TTempDir dir;
    write_bytes(dir.file("f"), "x");
    EXPECT_TRUE(file_exists(dir.file("f")));
    EXPECT_FALSE(file_exists(dir.path().string()));
    EXPECT_FALSE(file_exists(dir.file("none")));
    EXPECT_TRUE(directory_exists(dir.path().string()));
    EXPECT_FALSE(directory_exists(dir.file("f")));
    EXPECT_EQ(file_size(dir.file("f")), 1);
    EXPECT_EQ(file_size(dir.file("none")), -1);
    EXPECT_EQ(file_size(dir.path().string()), -1);
}

TEST(Files, CreateDirectoriesMakesParentsAndStopsAtAFile) {
    TTempDir dir;
    EXPECT_TRUE(create_directories(dir.file("a/b/c")));
    EXPECT_TRUE(directory_exists(dir.file("a/b/c")));
    EXPECT_TRUE(create_directories(dir.file("a/b")));  // already there
    write_bytes(dir.file("file"), "x");
    EXPECT_FALSE(create_directories(dir.file("file/sub")));
    EXPECT_FALSE(create_directories(""));
}

TEST(Files, FullPathResolvesAgainstTheCurrentDirectory) {
    TTempDir dir;
    test::TCurrentDir cd(dir.path());
    EXPECT_EQ(fs::path(full_path("logs")), fs::current_path() / "logs");
}

// The downloads' free-space budget is kept per disk by this name.
TEST(Files, FoldersOnOneDiskShareItsName) {
    TTempDir dir;
    ASSERT_TRUE(create_directories(dir.file("a")));
    EXPECT_FALSE(disk_of(dir.path().string()).empty());
    EXPECT_EQ(disk_of(dir.file("a")), disk_of(dir.path().string()));
    EXPECT_TRUE(free_disk_space(dir.file("a")).has_value());
}

TEST(Files, DeleteAndReadOfMissingFilesNameTheFile) {
    TTempDir dir;
    write_bytes(dir.file("f"), "x");
    delete_file(dir.file("f"));
    EXPECT_FALSE(file_exists(dir.file("f")));
    for (const auto& call : {+[](const std::string& p) { delete_file(p); },
                             +[](const std::string& p) { read_file(p); }}) {
        try {
            call(dir.file("f"));
            ADD_FAILURE() << "no error";
        } catch (const TIoError& e) {
            EXPECT_NE(std::string(e.what()).find(dir.file("f")), std::string::npos);
        }
    }
}

// Only a file that another holder keeps open counts as in use; POSIX removes open files.
TEST(Files, DeletingAFileHeldOpen) {
    TTempDir dir;
    write_bytes(dir.file("open"), "x");
    const TFileReader reader(dir.file("open"));
#ifdef _WIN32
    EXPECT_THROW(delete_file(dir.file("open")), TFileInUseError);
#else
    EXPECT_NO_THROW(delete_file(dir.file("open")));
#endif
}

TEST(FileReader, ReadsSequentiallyAndSeeks) {
    TTempDir dir;
    write_bytes(dir.file("f"), "0123456789");
    TFileReader reader(dir.file("f"));
    char buffer[4];
    ASSERT_EQ(reader.read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    reader.seek(8);
    ASSERT_EQ(reader.read(buffer, 4), 2u);
    EXPECT_EQ(std::string(buffer, 2), "89");
    EXPECT_EQ(reader.read(buffer, 4), 0u);
    reader.seek(100);
    EXPECT_EQ(reader.read(buffer, 4), 0u);
    reader.seek(1);
    EXPECT_EQ(reader.read(buffer, 1), 1u);
    EXPECT_EQ(buffer[0], '1');
}

TEST(AtomicFileWriter, CommitReplacesTheTargetWhole) {
    TTempDir dir;
    write_bytes(dir.file("t"), "old content");
    {
        TAtomicFileWriter writer(dir.file("t"));
        writer.write("discarded", 9);
        writer.truncate();
        writer.write("new", 3);
        EXPECT_EQ(read_bytes(dir.file("t")), "old content");  // untouched until commit
        writer.commit();
    }
    EXPECT_EQ(read_bytes(dir.file("t")), "new");
    EXPECT_EQ(entries_in(dir.path()), 1u);
    write_file_atomic(dir.file("t"), "");
    EXPECT_EQ(read_bytes(dir.file("t")), "");
}

TEST(AtomicFileWriter, WriterDroppedWithoutCommitLeavesNothing) {
    TTempDir dir;
    {
        TAtomicFileWriter writer(dir.file("new"));
        writer.write("half", 4);
    }
    EXPECT_EQ(entries_in(dir.path()), 0u);
    write_bytes(dir.file("old"), "kept");
    {
        TAtomicFileWriter writer(dir.file("old"));
        writer.write("half", 4);
    }
    EXPECT_EQ(read_bytes(dir.file("old")), "kept");
    EXPECT_EQ(entries_in(dir.path()), 1u);
}

// An interrupted download keeps its temporary file; the next writer appends to it and commits the
// whole, and one that goes without commit removes it as any writer does.
TEST(AtomicFileWriter, KeptTemporaryIsTakenUpByTheNextWriter) {
    TTempDir dir;
    std::string temporary;
    {
        TAtomicFileWriter writer(dir.file("t"));
        writer.write("first ", 6);
        writer.keep();
        temporary = writer.temporary();
    }
    EXPECT_EQ(read_bytes(temporary), "first ");
    {
        TAtomicFileWriter writer(dir.file("t"), TKeptTemporary{temporary});
        writer.write("second", 6);
        writer.commit();
    }
    EXPECT_EQ(read_bytes(dir.file("t")), "first second");
    EXPECT_EQ(entries_in(dir.path()), 1u);
    write_bytes(temporary, "again");
    { TAtomicFileWriter writer(dir.file("t"), TKeptTemporary{temporary}); }
    EXPECT_EQ(entries_in(dir.path()), 1u);
    EXPECT_THROW(TAtomicFileWriter(dir.file("t"), TKeptTemporary{temporary}), TIoError);
}

// Another launcher sweeping the folder must not take a temporary file from under its writer.
TEST(AtomicFileWriter, ItsTemporaryIsRemovedAsAbandonedOnlyOnceTheWriterLetsGo) {
    TTempDir dir;
    std::string temporary;
    {
        TAtomicFileWriter writer(dir.file("t"));
        writer.write("first ", 6);
        EXPECT_THROW(remove_abandoned_temporary(writer.temporary()), TFileInUseError);
        writer.keep();
        temporary = writer.temporary();
    }
    {
        TAtomicFileWriter writer(dir.file("t"), TKeptTemporary{temporary});
        EXPECT_THROW(remove_abandoned_temporary(temporary), TFileInUseError);
        writer.write("second", 6);
        writer.commit();
    }
    EXPECT_EQ(read_bytes(dir.file("t")), "first second");
    {
        TAtomicFileWriter writer(dir.file("t"));
        writer.keep();
        temporary = writer.temporary();
    }
    remove_abandoned_temporary(temporary);
    EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(AtomicFileWriter, FailedCommitLeavesTargetAndNoTemporary) {
    TTempDir dir;
    fs::create_directory(dir.file("target"));  // a directory cannot be replaced by a file
    {
        TAtomicFileWriter writer(dir.file("target"));
        writer.write("x", 1);
        EXPECT_THROW(writer.commit(), TIoError);
    }
    EXPECT_TRUE(directory_exists(dir.file("target")));
    EXPECT_EQ(entries_in(dir.path()), 1u);
    EXPECT_THROW(TAtomicFileWriter(dir.file("no/such/dir/f")), TIoError);
}

TEST(FolderLock, OneHolderAtATimeAndTheNextOneAfterIt) {
    TTempDir dir;
    auto first = std::make_unique<TFolderLock>(dir.file("lock"));
    TFolderLock second(dir.file("lock"));
    EXPECT_TRUE(first->try_lock());
    EXPECT_FALSE(second.try_lock());
    first.reset();
    EXPECT_TRUE(second.try_lock());
}

TEST(FolderLock, ALinkInTheLockFilesPlaceLeadsNowhere) {
    TTempDir dir;
    if (!test::make_folder_with_links(dir.path() / "w"))
        GTEST_SKIP() << "no symbolic links here";
    try {
        TFolderLock lock(dir.file("w/pusty"));
        lock.try_lock();
    } catch (const TIoError&) {
    }
    EXPECT_FALSE(fs::exists(dir.path() / "poza" / "brak"));
}

TEST(Files, ALinkMayLeadAroundTheFolderButNotOutOfIt) {
    TTempDir dir;
    if (!test::make_folder_with_links(dir.path() / "w"))
        GTEST_SKIP() << "no symbolic links here";
    const std::pair<const char*, bool> cases[] = {
        {"", true},       {"dane/nowy/plik", true},   {"wew/nowy", true},
        {"out", false},   {"out/nowy", false},        {"plik", false},
        {"pusty", false}, {"dane/../../poza", false}, {"brak/../x", false}};
    for (const auto& [path, inside] : cases)
        EXPECT_EQ(stays_inside(dir.file("w"), path), inside) << path;
    EXPECT_TRUE(stays_inside(dir.file("w/nowy"), "x"));
}

TEST(FileNames, TemporaryNamesOfBothBackendsAreRecognised) {
    EXPECT_TRUE(is_temporary_name_of("a.dll", "a.dll.part123456"));
    EXPECT_TRUE(is_temporary_name_of("a.dll", "a.dll.part4242_7"));
    EXPECT_FALSE(is_temporary_name_of("a.dll", "a.dll.part"));
    EXPECT_FALSE(is_temporary_name_of("a.dll", "a.dll.partia"));
    EXPECT_FALSE(is_temporary_name_of("a.dll", "b.dll.part1"));
    EXPECT_FALSE(is_temporary_name_of("a.dll", "a.dll.part_"));
    EXPECT_FALSE(is_temporary_name_of("a.dll", "a.dll.part12_"));
    EXPECT_FALSE(is_temporary_name_of("a.dll", "a.dll.part1_2_3"));
    EXPECT_TRUE(is_temporary_name("a.part1.part2"));
    EXPECT_FALSE(is_temporary_name(".part1"));
    EXPECT_FALSE(is_temporary_name("a.dll"));
}

// The sweep of a killed run's leftovers knows the writer's temporary files by their names alone.
TEST(FileNames, TheWritersTemporaryFileHasATemporaryName) {
    TTempDir dir;
    TAtomicFileWriter writer(dir.file("a.dll"));
    const std::vector<std::string> names = list_directory(dir.path().string());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(is_temporary_name_of("a.dll", names.front())) << names.front();
    EXPECT_TRUE(is_temporary_name(names.front())) << names.front();
}

TEST(LogFile, LeavesAnOldFileAloneAndWritesThrough) {
#ifdef _WIN32
    GTEST_SKIP() << "On Windows nobody else may open the run log while it is written; "
                    "FilesWin32.RunLogIsSharedWithNobodyWhileOpen checks that";
#endif
    TTempDir dir;
    write_bytes(dir.file("old"), "previous run");
    EXPECT_THROW(TLogFile{dir.file("old")}, TFileExistsError);
    EXPECT_EQ(read_bytes(dir.file("old")), "previous run");
    TLogFile log(dir.file("log"));
    EXPECT_EQ(read_bytes(dir.file("log")), "");
    log.write("a\r\n");
    log.write("b\r\n");
    EXPECT_EQ(read_bytes(dir.file("log")), "a\r\nb\r\n");
}

}  // namespace
}  // namespace qiv_start::platform

#include "core/download/file_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

#include "core/support/error.h"
#include "support/temp_dir.h"

namespace qiv_start::core {
namespace {

TEST(FileStream, ClearStartsTheFileAgain) {
    test::TTempDir directory;
    TFileStream stream(directory.file("a.txt"));
    stream.write("first attempt", 13);
    stream.clear();
    EXPECT_EQ(stream.get_size(), 0);
    stream.write("ok", 2);
    stream.set_position(0);
    EXPECT_EQ(stream.get_size(), 2);
    stream.commit();
    EXPECT_EQ(test::read_bytes(directory.file("a.txt")), "ok");
}

TEST(FileStream, WritesOnlyAtTheEnd) {
    test::TTempDir directory;
    TFileStream stream(directory.file("a.txt"));
    stream.write("abc", 3);
    stream.set_position(1);
    EXPECT_THROW(stream.write("x", 1), TError);
    EXPECT_THROW(stream.set_position(4), TError);
    EXPECT_THROW(stream.set_position(-1), TError);
}

TEST(FileStream, LeavesNothingBehindWithoutCommit) {
    test::TTempDir directory;
    test::write_bytes(directory.file("a.txt"), "old");
    {
        TFileStream stream(directory.file("a.txt"));
        stream.write("new", 3);
    }
    EXPECT_EQ(test::read_bytes(directory.file("a.txt")), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.path()), {}), 1);
}

// A margin larger than any disk stands for a disk that a server's body would fill.
TEST(FileStream, AWriteThatWouldEatTheDiskMarginFailsAndNothingIsSaved) {
    test::TTempDir directory;
    test::write_bytes(directory.file("a.txt"), "old");
    TFileStream stream(directory.file("a.txt"), std::numeric_limits<std::uint64_t>::max());
    EXPECT_THROW(stream.write("new", 3), TError);
    EXPECT_EQ(stream.get_size(), 0);
    EXPECT_THROW(stream.commit(), TIoError);
    EXPECT_EQ(test::read_bytes(directory.file("a.txt")), "old");
}

}  // namespace
}  // namespace qiv_start::core

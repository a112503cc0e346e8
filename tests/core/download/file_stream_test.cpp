#include "core/download/file_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

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

// A disk of 64 MiB + 20 MiB free before the test's files, and 40 downloads writing 4 MiB each
// at the same time: together they stop at the margin. What a stream reserved and did not write
// is given back when it is flushed or goes, and what is left goes to the next stream.
TEST(FileStream, StreamsWritingAtOnceLeaveTheMarginTogether) {
    constexpr std::uint64_t kMiB = 1024 * 1024;
    test::TTempDir directory;
    const auto written = [&directory] {
        std::uint64_t total = 0;
        for (const auto& entry : std::filesystem::directory_iterator(directory.path()))
            total += entry.file_size();
        return total;
    };
    const std::uint64_t start = kDiskMargin + 20 * kMiB;
    TDiskBudget budget({[&](const std::string&) { return start - std::min(start, written()); },
                        [](const std::string&) { return std::string("disk"); }});
    std::vector<std::unique_ptr<TFileStream>> streams;
    for (int i = 0; i < 40; ++i) {
        streams.push_back(
            std::make_unique<TFileStream>(directory.file(std::to_string(i)), kDiskMargin, budget));
    }
    // It reserves a step, writes one byte of it and waits.
    TFileStream small(directory.file("small"), kDiskMargin, budget);
    small.write("s", 1);
    const std::string piece(256 * 1024, 'x');
    std::size_t refused = 0;
    for (std::uint64_t round = 0; round < 4 * kMiB / piece.size(); ++round) {
        for (auto& stream : streams) {
            try {
                stream->write(piece.data(), piece.size());
            } catch (const TError&) {
                ++refused;
            }
            ASSERT_LE(written(), 20 * kMiB);
        }
    }
    EXPECT_GT(refused, 0u);
    for (std::size_t i = 0; i < streams.size(); i += 2)
        streams[i].reset();
    for (std::size_t i = 1; i < streams.size(); i += 2) {
        try {
            streams[i]->flush();
        } catch (const TIoError&) {  // a stream that was refused a write
        }
    }
    small.flush();
    const std::uint64_t left = 20 * kMiB - written();
    TFileStream last(directory.file("last"), kDiskMargin, budget);
    const std::string rest(left, 'y');
    last.write(rest.data(), rest.size());
    EXPECT_THROW(last.write("z", 1), TError);
}

}  // namespace
}  // namespace qiv_start::core

#include "core/support/stream.h"

#include <gtest/gtest.h>

#include "core/support/error.h"

namespace qiv_start::core {
namespace {

void write(TStream& stream, const std::string& bytes) {
    stream.write(bytes.data(), bytes.size());
}

TEST(MemoryStream, WritesAppendAndOverwriteAtThePosition) {
    TMemoryStream stream;
    write(stream, "hello");
    EXPECT_EQ(stream.get_position(), 5);
    stream.set_position(1);
    write(stream, "EL");
    EXPECT_EQ(stream.data(), "hELlo");
    EXPECT_EQ(stream.get_position(), 3);
    write(stream, "LO, world");  // overwrites the tail and grows past it
    EXPECT_EQ(stream.data(), "hELLO, world");
    EXPECT_EQ(stream.get_size(), 12);
}

TEST(MemoryStream, PositionBeyondTheEndGrowsOnlyOnWrite) {
    TMemoryStream stream;
    write(stream, "ab");
    stream.set_position(4);
    EXPECT_EQ(stream.get_size(), 2);
    write(stream, "c");
    EXPECT_EQ(stream.data(), std::string("ab\0\0c", 5));
    EXPECT_THROW(stream.set_position(-1), TError);
}

TEST(MemoryStream, CeilingRefusesTheWriteThatWouldPassItAndKeepsTheRest) {
    TMemoryStream stream(10);
    stream.write("0123456789", 10);
    EXPECT_THROW(stream.write("x", 1), TError);
    EXPECT_EQ(stream.data(), "0123456789");
    stream.clear();
    stream.write("01234", 5);
    EXPECT_THROW(stream.write("567890", 6), TError);
    EXPECT_EQ(stream.data(), "01234");
    EXPECT_LE(stream.data().capacity(), 15u);
}

TEST(MemoryStream, ClearEmptiesAndRewinds) {
    TMemoryStream stream;
    write(stream, std::string(1000, 'x'));
    stream.clear();
    EXPECT_EQ(stream.get_size(), 0);
    EXPECT_EQ(stream.get_position(), 0);
    write(stream, "y");
    EXPECT_EQ(stream.data(), "y");
}

}  // namespace
}  // namespace qiv_start::core

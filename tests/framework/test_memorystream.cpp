#include "framework/memorystream.h"

#include <gtest/gtest.h>

using framework::MemoryStream;

TEST(MemoryStream, WriteReadAndPosition)
{
    MemoryStream stream;
    EXPECT_EQ(stream.size(), 0);
    EXPECT_EQ(stream.write("abcdef", 6), 6);
    EXPECT_EQ(stream.position(), 6);
    char buffer[8] = {};
    EXPECT_EQ(stream.read(buffer, 8), 0);
    stream.setPosition(2);
    EXPECT_EQ(stream.read(buffer, 8), 4);
    EXPECT_EQ(QByteArray(buffer, 4), "cdef");
    stream.setPosition(4);
    stream.write("XYZ", 3);
    EXPECT_EQ(stream.bytes(), "abcdXYZ");
}

TEST(MemoryStream, WritingBeyondTheEndZeroFillsTheGap)
{
    MemoryStream stream;
    stream.setPosition(3);
    stream.write("z", 1);
    EXPECT_EQ(stream.bytes(), QByteArray("\0\0\0z", 4));
}

TEST(MemoryStream, SetSizeTruncatesAndKeepsThePositionInside)
{
    MemoryStream stream(QByteArray("hello"));
    stream.setPosition(5);
    stream.setSize(2);
    EXPECT_EQ(stream.position(), 2);
    EXPECT_EQ(stream.bytes(), "he");
    stream.setSize(4);
    EXPECT_EQ(stream.bytes(), QByteArray("he\0\0", 4));
    stream.clear();
    EXPECT_EQ(stream.size(), 0);
    EXPECT_EQ(stream.position(), 0);
}

TEST(MemoryStream, NegativeCountsAndPositionsAreHarmless)
{
    MemoryStream stream(QByteArray("ab"));
    char c = 0;
    stream.setPosition(-5);
    EXPECT_EQ(stream.position(), 0);
    EXPECT_EQ(stream.read(&c, -1), 0);
    EXPECT_EQ(stream.write(&c, -1), 0);
    EXPECT_EQ(stream.size(), 2);
}

#include "image/FileStream.h"
#include "image/MemoryStream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "TestPaths.h"

namespace quiltara {
namespace {

// ---- FileStream ----

class FileStreamTest : public testing::Test {
protected:
    void SetUp() override {
        path_ = (dir_ / "data.bin").string();
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("line one\n42 rest", f);
        std::fclose(f);
    }

    test::TempDir dir_;
    std::string path_;
};

TEST(FileStreamWithoutFile, EveryOperationGivesItsNeutralAnswer) {
    FileStream stream(nullptr);
    char buffer[8] = {};
    int value = 0;
    EXPECT_EQ(stream.Read(buffer, 1, 8), 0u);
    EXPECT_EQ(stream.Write(buffer, 1, 8), 0u);
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_EQ(stream.Size(), -1);
    EXPECT_TRUE(stream.Eof());
    EXPECT_EQ(stream.Error(), -1);
    EXPECT_FALSE(stream.Seek(0, 0));
    EXPECT_FALSE(stream.Flush());
    EXPECT_FALSE(stream.PutC('a'));
    EXPECT_EQ(stream.GetC(), -1);
    EXPECT_EQ(stream.GetS(buffer, 8), nullptr);
    EXPECT_EQ(stream.Scanf("%d", &value), -1);
    EXPECT_TRUE(stream.Close());
}

TEST_F(FileStreamTest, ReadsSeeksAndMeasures) {
    FileStream stream;
    ASSERT_TRUE(stream.Open(path_.c_str(), "rb"));
    EXPECT_FALSE(stream.Open(path_.c_str(), "rb")); // already holds one
    char line[32];
    ASSERT_EQ(stream.GetS(line, sizeof line), line);
    EXPECT_STREQ(line, "line one\n");
    EXPECT_EQ(stream.Tell(), 9);
    EXPECT_EQ(stream.Size(), 16);
    EXPECT_EQ(stream.Tell(), 9); // Size puts the position back
    int value = 0;
    EXPECT_EQ(stream.Scanf("%d", &value), 1);
    EXPECT_EQ(value, 42);
    ASSERT_TRUE(stream.Seek(-4, 2));
    EXPECT_EQ(stream.GetC(), 'r');
    char rest[8] = {};
    EXPECT_EQ(stream.Read(rest, 2, 4), 1u); // 3 bytes left: one whole item
    EXPECT_TRUE(stream.Eof());
    EXPECT_EQ(stream.Error(), 0);
    EXPECT_TRUE(stream.Close());
    EXPECT_EQ(stream.Handle(), nullptr);
}

TEST_F(FileStreamTest, CallersFileIsNeverClosed) {
    std::FILE* file = std::fopen(path_.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    {
        FileStream stream(file);
        EXPECT_FALSE(stream.ClosesOnRelease());
        EXPECT_TRUE(stream.Close());
        EXPECT_EQ(stream.Handle(), file); // stays attached
        EXPECT_FALSE(stream.Open(path_.c_str(), "rb"));
        EXPECT_EQ(stream.GetC(), 'l');
    }
    // Still open after the stream is gone: reading goes on where it stopped.
    EXPECT_EQ(std::fgetc(file), 'i');
    EXPECT_EQ(std::fclose(file), 0);
}

TEST_F(FileStreamTest, WritesThroughPutCAndWrite) {
    {
        FileStream stream;
        ASSERT_TRUE(stream.Open(path_.c_str(), "wb"));
        EXPECT_TRUE(stream.PutC(0xFF));
        EXPECT_EQ(stream.Write("abc", 1, 3), 3u);
        EXPECT_TRUE(stream.Flush());
        FileStream moved(std::move(stream)); // the moved-to object closes it
    }
    EXPECT_EQ(std::filesystem::file_size(path_), 4u);
    FileStream missing;
    EXPECT_FALSE(missing.Open((dir_ / "no/such/dir/x").c_str(), "rb"));
}

// ---- MemoryStream ----

TEST(MemoryStream, EmptyStreamAndFirstWrites) {
    MemoryStream stream;
    EXPECT_EQ(stream.Size(), -1);
    EXPECT_EQ(stream.Write("x", 1, 1), 0u); // nothing to write into yet
    ASSERT_TRUE(stream.OpenEmpty());
    EXPECT_FALSE(stream.OpenEmpty());
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_TRUE(stream.Eof());
    EXPECT_EQ(stream.GetC(), -1);
    EXPECT_EQ(stream.Write("\x01\x02\x03", 1, 3), 3u);
    EXPECT_EQ(stream.Capacity(), 65536u);
    ASSERT_TRUE(stream.Seek(0, 0));
    EXPECT_EQ(stream.GetC(), 1);
    EXPECT_EQ(stream.Size(), 3);
    EXPECT_TRUE(stream.Close());
    EXPECT_EQ(stream.Size(), -1);
}

TEST(MemoryStream, CapacityGrowsInSteps) {
    struct Case {
        std::uint32_t asked, capacity;
    };
    for (const Case c :
         {Case{1, 65536}, Case{65536, 131072}, Case{70000, 131072}, Case{65535, 65536}}) {
        MemoryStream stream;
        ASSERT_TRUE(stream.EnsureCapacity(c.asked));
        EXPECT_EQ(stream.Capacity(), c.capacity) << c.asked;
        EXPECT_TRUE(stream.OwnsBuffer());
        EXPECT_TRUE(stream.EnsureCapacity(c.capacity)); // no growth needed
        EXPECT_EQ(stream.Capacity(), c.capacity);
    }
    MemoryStream none;
    EXPECT_FALSE(none.EnsureCapacity(0)); // fits, but no buffer is held
    MemoryStream huge;
    EXPECT_FALSE(huge.EnsureCapacity(0xFFFFFFFFu)); // the next step does not fit 32 bits
}

TEST(MemoryStream, SeekingClampsBelowAndAllowsBeyond) {
    MemoryStream stream;
    ASSERT_TRUE(stream.OpenEmpty());
    stream.Write("abc", 1, 3);
    EXPECT_TRUE(stream.Seek(-5, 0));
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_FALSE(stream.Seek(0, 3));
    EXPECT_TRUE(stream.Seek(10, 2));
    EXPECT_EQ(stream.Tell(), 13);
    EXPECT_TRUE(stream.Eof());
    EXPECT_EQ(stream.Error(), 1);
    EXPECT_EQ(stream.Write("yz", 1, 2), 2u);
    EXPECT_EQ(stream.Size(), 15);
    EXPECT_EQ(stream.Error(), 0);
    // The gap between the old end and the write reads as zeros.
    const std::uint8_t* data = stream.BufferPointer();
    for (int i = 3; i < 13; ++i) {
        EXPECT_EQ(data[i], 0) << i;
    }
    EXPECT_EQ(data[13], 'y');
    EXPECT_TRUE(stream.Seek(-1, 1));
    EXPECT_EQ(stream.GetC(), 'z');
}

TEST(MemoryStream, ReadCountsOnlyWholeItems) {
    std::uint8_t data[12];
    for (int i = 0; i < 12; ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    MemoryStream stream(data, 12);
    EXPECT_TRUE(stream.Seek(2, 0));
    std::uint8_t out[16] = {};
    EXPECT_EQ(stream.Read(out, 4, 3), 2u);
    EXPECT_EQ(out[9], 11); // the partial item is copied all the same
    EXPECT_EQ(stream.Tell(), 12);
    EXPECT_EQ(stream.Read(out, 1, 1), 0u);
    EXPECT_EQ(stream.Read(nullptr, 1, 1), 0u);
    stream.Seek(0, 0);
    EXPECT_EQ(stream.Read(out, 0, 5), 0u);
    EXPECT_EQ(stream.Read(out, 3, 2), 2u);
    EXPECT_EQ(out[5], 5);
}

TEST(MemoryStream, CallersBufferIsNeverFreedOrReallocated) {
    std::vector<std::uint8_t> callers{'a', 'b', 'c'};
    {
        MemoryStream stream(callers.data(), 3);
        EXPECT_FALSE(stream.OwnsBuffer());
        stream.Seek(0, 2);
        EXPECT_EQ(stream.Write("de", 1, 2), 2u); // grows: the stream takes a copy
        EXPECT_TRUE(stream.OwnsBuffer());
        EXPECT_NE(stream.BufferPointer(), callers.data());
        EXPECT_EQ(std::memcmp(stream.BufferPointer(), "abcde", 5), 0);
        EXPECT_TRUE(stream.Close()); // frees the grown copy only
    }
    EXPECT_EQ(callers, (std::vector<std::uint8_t>{'a', 'b', 'c'}));

    std::uint8_t fixed[4] = {'w', 'x', 'y', 'z'};
    MemoryStream inPlace(fixed, 4);
    EXPECT_TRUE(inPlace.PutC('Q'));
    EXPECT_EQ(fixed[0], 'Q'); // writes within the buffer go to the caller's bytes
    EXPECT_TRUE(inPlace.Close());
    EXPECT_EQ(inPlace.GetC(), 'x'); // still attached after Close
}

TEST(MemoryStream, DetachedBufferBelongsToTheCaller) {
    MemoryStream stream;
    ASSERT_TRUE(stream.OpenEmpty());
    stream.Write("hello", 1, 5);
    std::uint8_t* buffer = stream.BufferPointer(true);
    EXPECT_FALSE(stream.OwnsBuffer());
    stream.Close();
    EXPECT_EQ(std::memcmp(buffer, "hello", 5), 0); // not freed by the stream
    std::free(buffer);
}

TEST(MemoryStream, PutCGetSAndScanf) {
    MemoryStream stream;
    ASSERT_TRUE(stream.OpenEmpty());
    for (const char c : std::string("ab\ncdef")) {
        ASSERT_TRUE(stream.PutC(static_cast<std::uint8_t>(c)));
    }
    stream.Seek(0, 0);
    char buffer[8];
    ASSERT_EQ(stream.GetS(buffer, 8), buffer);
    EXPECT_STREQ(buffer, "ab\n");
    ASSERT_EQ(stream.GetS(buffer, 3), buffer);
    EXPECT_STREQ(buffer, "cd");
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(stream.GetS(buffer, 8), nullptr); // the end comes before a newline
    EXPECT_EQ(std::string(buffer, 3), "ef#");   // kept, without a terminator
    int value = 0;
    EXPECT_EQ(stream.Scanf("%d", &value), 0);
}

} // namespace
} // namespace quiltara

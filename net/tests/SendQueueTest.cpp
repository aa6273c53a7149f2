// The send block and the queue discipline.
#include <gtest/gtest.h>

#include <string>

#include "net/SendQueue.h"
#include "net/TBuffer.h"

namespace sitowiak::net {
namespace {

TEST(TBufferTest, WriteFillsUpToCapacityThenRefuses) {
    TBuffer block(0);
    EXPECT_EQ(block.BufSize(), 1514);
    const std::string data(2000, 'x');
    EXPECT_EQ(block.Write(data.data(), 2000), 1514);
    EXPECT_EQ(block.Write(data.data(), 1), 0);
}

TEST(TBufferTest, RemoveIsBoundedAndResetsADrainedBlock) {
    TBuffer block(8);
    block.Write("abcdef", 6);
    EXPECT_EQ(block.Remove(4), 4);
    std::int32_t len = 0;
    const std::uint8_t* p = block.Peek(len);
    ASSERT_EQ(len, 2);
    EXPECT_EQ(p[0], 'e');
    EXPECT_EQ(block.Remove(10), 2);
    EXPECT_EQ(block.WrCount(), 0);
    EXPECT_EQ(block.Peek(len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(block.Remove(1), 0);
    block.Write("z", 1);
    EXPECT_EQ(block.Peek(len)[0], 'z');  // written again from the start
}

TEST(TBufferTest, SetBufSizeKeepsUnreadBytesAndCounts) {
    TBuffer block(8);
    block.Write("abcdef", 6);
    block.Remove(2);
    block.SetBufSize(32);
    std::int32_t len = 0;
    const std::uint8_t* p = block.Peek(len);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 4), "cdef");
    EXPECT_EQ(block.Write("0123456789", 10), 10);
}

TEST(SendQueueTest, AppendFillsTheLastBlockThenAddsOne) {
    SendQueue queue;
    const std::string data(2000, 'a');
    queue.Append(data.data(), 2000);
    EXPECT_EQ(queue.BlockCount(), 2u);
    queue.Append("bcd", 3);  // goes after the 486 bytes of the second block
    EXPECT_EQ(queue.BlockCount(), 2u);
    EXPECT_EQ(queue.PendingBytes(), 2003);
}

TEST(SendQueueTest, DrainingKeepsOnlyTheLastBlockForReuse) {
    SendQueue queue;
    std::string in;
    for (int i = 0; i < 4000; ++i) in.push_back(static_cast<char>('a' + i % 26));
    queue.Append(in.data(), static_cast<std::int32_t>(in.size()));
    std::string out;
    for (;;) {
        std::int32_t len = 0;
        const std::uint8_t* p = queue.Front(len);
        if (len == 0) {
            if (!queue.AdvanceDrained()) break;
            continue;
        }
        const std::int32_t take = len > 100 ? 100 : len;  // partial writes
        out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(take));
        queue.Consume(take);
    }
    EXPECT_EQ(out, in);
    EXPECT_EQ(queue.BlockCount(), 1u);
    EXPECT_EQ(queue.PendingBytes(), 0);
}

}  // namespace
}  // namespace sitowiak::net

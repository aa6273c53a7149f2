// TBuforDyn: the growable buffer's layout and its three mutators.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "filter/TBuforDyn.h"

namespace sitowiak::filter {
namespace {

std::string Content(const TBuforDyn& b) {
    return std::string(b.Data(), static_cast<size_t>(b.Length()));
}

void Fill(TBuforDyn& b, const std::string& text) {
    b.SetLength(static_cast<int32_t>(text.size()));
    std::memcpy(b.Data(), text.data(), text.size());
    b.Data()[text.size()] = 0;
}

TEST(TBuforDyn, ANewBufferIsEmptyWithTheReserve) {
    TBuforDyn b;
    EXPECT_EQ(b.Length(), 0);
    EXPECT_EQ(b.Capacity(), 2048);  // block of Capacity + 1 = 2049 bytes
    EXPECT_EQ(TBuforDyn::ReserveSize(), 2048);
    EXPECT_NE(b.Data(), nullptr);
}

TEST(TBuforDyn, GrowAddsToTheLengthAndWritesTheNul) {
    TBuforDyn b;
    std::memset(b.Data(), 'x', 2049);
    char* data = b.Grow(10);
    EXPECT_EQ(data, b.Data());
    EXPECT_EQ(b.Length(), 10);
    EXPECT_EQ(b.Capacity(), 2058);  // block of 2059 bytes
    EXPECT_EQ(b.Data()[10], '\0');
}

TEST(TBuforDyn, GrowWithANegativeCountShrinks) {
    TBuforDyn b;
    Fill(b, "0123456789");
    b.Grow(-3);
    EXPECT_EQ(b.Length(), 7);
    EXPECT_EQ(Content(b), "0123456");
    EXPECT_EQ(b.Data()[7], '\0');
}

TEST(TBuforDyn, ASocketReadLandsInTheReserve) {
    TBuforDyn b;
    Fill(b, "abc");
    std::memcpy(b.Data() + b.Length(), "defgh", 5);  // what a Receive would do
    b.Grow(5);
    EXPECT_EQ(Content(b), "abcdefgh");
    EXPECT_EQ(b.Data()[8], '\0');
}

TEST(TBuforDyn, AWidenedRoomTakesALargeReadWithoutMoving) {
    TBuforDyn b;
    Fill(b, "abc");
    b.Reserve(65536);
    EXPECT_EQ(Content(b), "abc");
    char* data = b.Data();
    std::memset(data + 3, 'z', 65536);  // what a large Receive would do
    EXPECT_EQ(b.Grow(65536), data);
    EXPECT_EQ(Content(b), "abc" + std::string(65536, 'z'));
    EXPECT_EQ(b.Data()[b.Length()], '\0');
}

TEST(TBuforDyn, ResizeGapOpensRoomAndLeavesItToTheCaller) {
    TBuforDyn b;
    Fill(b, "abcdef");
    char* at = b.ResizeGap(b.Data() + 2, b.Data() + 2, 3);
    EXPECT_EQ(at, b.Data() + 2);
    EXPECT_EQ(b.Length(), 9);
    std::memcpy(at, "XYZ", 3);
    EXPECT_EQ(Content(b), "abXYZcdef");
    EXPECT_EQ(b.Data()[9], '\0');
}

TEST(TBuforDyn, ResizeGapWithANegativeCountRemovesTheStretch) {
    TBuforDyn b;
    Fill(b, "abcdef");
    char* at = b.ResizeGap(b.Data() + 1, b.Data() + 3, -2);
    EXPECT_EQ(at, b.Data() + 1);
    EXPECT_EQ(Content(b), "adef");
    EXPECT_EQ(b.Data()[4], '\0');
}

TEST(TBuforDyn, ResizeGapReplacesAStretchByALongerOne) {
    TBuforDyn b;
    Fill(b, "abcdef");
    char* at = b.ResizeGap(b.Data() + 1, b.Data() + 3, 2);  // "bc" -> 4 bytes
    std::memcpy(at, "1234", 4);
    EXPECT_EQ(Content(b), "a1234def");
}

TEST(TBuforDyn, ResizeGapWithZeroMovesNothing) {
    TBuforDyn b;
    Fill(b, "abcdef");
    char* at = b.ResizeGap(b.Data() + 2, b.Data() + 4, 0);
    EXPECT_EQ(at, b.Data() + 2);
    EXPECT_EQ(Content(b), "abcdef");
}

TEST(TBuforDyn, SetLengthZeroAfterForwardingShrinksTheBlock) {
    TBuforDyn b;
    Fill(b, std::string(100000, 'q'));
    EXPECT_EQ(b.Capacity(), 102048);
    b.SetLength(0);
    EXPECT_EQ(b.Length(), 0);
    EXPECT_EQ(b.Capacity(), 2048);
    EXPECT_EQ(b.BlockSize(), 2049u);
    // A short reply read and passed on: the block it grew goes too, so an
    // idle reader's buffer holds its first block only.
    b.Reserve(2048);
    b.Grow(26);
    EXPECT_GT(b.BlockSize(), 2049u);
    b.DropFront(20);
    EXPECT_GT(b.BlockSize(), 2049u);  // not empty: no shrinking back and forth
    b.DropFront(6);
    EXPECT_EQ(b.BlockSize(), 2049u);
}

TEST(TBuforDyn, SetLengthKeepsTheFirstBytes) {
    TBuforDyn b;
    Fill(b, "hello world");
    b.SetLength(5);
    EXPECT_EQ(Content(b), "hello");
    b.SetLength(100000);
    EXPECT_EQ(std::string(b.Data(), 5), "hello");
}

TEST(TBuforDyn, AnImpossibleLengthThrowsAndLeavesTheBufferAlone) {
    TBuforDyn b;
    Fill(b, "abc");
    EXPECT_THROW(b.SetLength(-1), std::bad_alloc);
    EXPECT_THROW(b.SetLength(0x7FFFFFFF), std::bad_alloc);
    EXPECT_EQ(Content(b), "abc");
}

}  // namespace
}  // namespace sitowiak::filter

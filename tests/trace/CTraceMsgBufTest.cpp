#include "trace/CTraceMsgBuf.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

TEST(CTraceMsgBuf, ConstructionZeroFillsTheWholeBuffer)
{
    char buffer[16];
    std::memset(buffer, '#', sizeof(buffer));
    CTraceMsgBuf msg(buffer, sizeof(buffer));
    for (char c : buffer) EXPECT_EQ('\0', c);
    EXPECT_EQ(buffer, msg.Text());
    EXPECT_EQ(0u, msg.GetLength());
}

TEST(CTraceMsgBuf, PointerIsLowerCaseHexThenNumbersAreDecimalAgain)
{
    char buffer[TRACE_MSG_BUF_SIZE];
    CTraceMsgBuf msg(buffer, sizeof(buffer));
    msg.AppendText("Create CUrlRequest object ")
        .AppendPointer(reinterpret_cast<const void*>(uintptr_t{107184}))
        .AppendText(" ")
        .AppendUnsigned(15);
    EXPECT_STREQ("Create CUrlRequest object 0x1a2b0 15", msg.Text());
}

#ifdef _WIN64
TEST(CTraceMsgBuf, PointerKeepsAllItsBits)
{
    char buffer[32];
    CTraceMsgBuf msg(buffer, sizeof(buffer));
    msg.AppendPointer(reinterpret_cast<const void*>(uintptr_t{0x7ff6a1b2c3d4}));
    EXPECT_STREQ("0x7ff6a1b2c3d4", msg.Text());
}
#endif

TEST(CTraceMsgBuf, NumbersInDecimalMode)
{
    char buffer[64];
    CTraceMsgBuf msg(buffer, sizeof(buffer));
    msg.AppendUnsigned(0).AppendText(",").AppendUnsigned(UINT32_MAX).AppendText(",");
    msg.AppendSigned(-5).AppendText(",").AppendSigned(INT32_MIN).AppendText(",");
    msg.AppendSigned(INT32_MAX);
    EXPECT_STREQ("0,4294967295,-5,-2147483648,2147483647", msg.Text());
}

TEST(CTraceMsgBuf, HexModeLastsForOneNumber)
{
    char buffer[64];
    CTraceMsgBuf msg(buffer, sizeof(buffer));
    msg.Hex().AppendUnsigned(0xABCDEF).AppendText(" ").AppendUnsigned(255);
    msg.AppendText(" ").Hex().AppendSigned(-1).AppendText(" ").AppendSigned(-1);
    msg.AppendText(" ").Hex().Decimal().AppendUnsigned(16);
    EXPECT_STREQ("abcdef 255 ffffffff -1 16", msg.Text());
}

TEST(CTraceMsgBuf, NullTextAppendsNothing)
{
    char buffer[16];
    CTraceMsgBuf msg(buffer, sizeof(buffer));
    msg.AppendText("ab").AppendText(nullptr).AppendText("c");
    EXPECT_STREQ("abc", msg.Text());
    EXPECT_EQ(3u, msg.GetLength());
}

TEST(CTraceMsgBuf, TextIsCutAtCapacityKeepingTheTerminator)
{
    char buffer[10];
    std::memset(buffer, '#', sizeof(buffer));
    CTraceMsgBuf msg(buffer, 8);
    msg.AppendText("abcdefghij");
    EXPECT_STREQ("abcdefg", msg.Text());
    EXPECT_EQ(7u, msg.GetLength());
    EXPECT_EQ('\0', buffer[7]);
    EXPECT_EQ('#', buffer[8]) << "written past the capacity";

    msg.AppendText("more").AppendUnsigned(12345).AppendPointer(nullptr);
    EXPECT_STREQ("abcdefg", msg.Text());
    EXPECT_EQ('#', buffer[8]);
}

TEST(CTraceMsgBuf, FullSizedRecordHolds512Characters)
{
    char buffer[TRACE_MSG_BUF_SIZE + 1];
    buffer[TRACE_MSG_BUF_SIZE] = '#';
    CTraceMsgBuf msg(buffer, TRACE_MSG_BUF_SIZE);
    const std::string text(600, 'x');
    msg.AppendText(text.c_str()).AppendText(" at file ");
    EXPECT_EQ(std::string(512, 'x'), msg.Text());
    EXPECT_EQ('#', buffer[TRACE_MSG_BUF_SIZE]);
}

TEST(CTraceMsgBuf, UnusableBufferTakesNothing)
{
    CTraceMsgBuf none(nullptr, 513);
    none.AppendText("text").AppendUnsigned(1).AppendPointer(&none);
    EXPECT_EQ(nullptr, none.Text());
    EXPECT_EQ(0u, none.GetLength());

    char buffer[4] = {'#', '#', '#', '#'};
    CTraceMsgBuf empty(buffer, 0);
    empty.AppendText("text").AppendSigned(-1);
    EXPECT_EQ('#', buffer[0]);
}

}  // namespace

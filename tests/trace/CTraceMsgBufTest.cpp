#include "trace/CTraceMsgBuf.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Appending, number modes and cutting are checked against a model by the text-pieces fuzz
// target on the native build; these pin the formats at their limits in the program's build.
TEST(CTraceMsgBuf, NumbersAtTheirLimitsAndTheModeLastingOneNumber)
{
    char buffer[TRACE_MSG_BUF_SIZE];
    CTraceMsgBuf msg(buffer, sizeof(buffer));
    msg.AppendUnsigned(UINT32_MAX).AppendText(",").AppendSigned(INT32_MIN).AppendText(",");
    msg.Hex().AppendUnsigned(0xABCDEF).AppendText(",").AppendUnsigned(255).AppendText(",");
    msg.Hex().AppendSigned(-1).AppendText(",").Hex().Decimal().AppendSigned(-1).AppendText(",");
    msg.AppendPointer(reinterpret_cast<const void*>(uintptr_t{107184})).AppendText(",").AppendUnsigned(15);
    EXPECT_STREQ("4294967295,-2147483648,abcdef,255,ffffffff,-1,0x1a2b0,15", msg.Text());
#ifdef _WIN64
    CTraceMsgBuf wide(buffer, sizeof(buffer));
    wide.AppendPointer(reinterpret_cast<const void*>(uintptr_t{0x7ff6a1b2c3d4}));
    EXPECT_STREQ("0x7ff6a1b2c3d4", wide.Text()) << "all the pointer's bits";
#endif
}

TEST(CTraceMsgBuf, ZeroFillsItsBufferAndNeverWritesPastIt)
{
    char buffer[10];
    std::memset(buffer, '#', sizeof(buffer));
    CTraceMsgBuf msg(buffer, 8);
    EXPECT_EQ(std::string(8, '\0') + "##", std::string(buffer, 10));
    msg.AppendText("abcdefghij").AppendUnsigned(12345).AppendPointer(nullptr);
    EXPECT_EQ(std::string("abcdefg") + '\0' + "##", std::string(buffer, 10));
    EXPECT_EQ(7u, msg.GetLength());

    CTraceMsgBuf none(nullptr, TRACE_MSG_BUF_SIZE);
    none.AppendText("text").AppendUnsigned(1).AppendPointer(&none);
    EXPECT_EQ(nullptr, none.Text());
    EXPECT_EQ(0u, none.GetLength());
}

}  // namespace

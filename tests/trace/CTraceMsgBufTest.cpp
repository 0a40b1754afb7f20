#include "trace/CTraceMsgBuf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Appending, number modes, pointers and cutting are checked against a model by the
// text-pieces fuzz target; here the zero-filled buffer and a missing one.
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

// The client side of the control protocol as text: answers formatted, records parsed.
#include <gtest/gtest.h>

#include "tests/support/RigAnswer.h"
#include "tests/support/RigRequest.h"

namespace {

TEST(RigProtocolText, AnswerPutsItsBodyBehindTheEmptyLineUntouched)
{
    RigAnswer answer;
    answer.path = "/a?b=1";
    answer.status = 404;
    answer.headers.push_back("X-One: 1");
    answer.body = std::string("line\n\nmore\0", 11);

    std::string text = answer.Format();

    EXPECT_EQ("path: /a?b=1\nstatus: 404\nheader: X-One: 1\n\n" + answer.body, text);
}

TEST(RigProtocolText, AnswerValuesCannotBreakALine)
{
    RigAnswer answer;
    answer.path = "/x\r\nhold: 1";
    answer.authUser = "u";
    answer.authPassword = "p\nq";

    std::string text = answer.Format();

    EXPECT_NE(std::string::npos, text.find("path: /x  hold: 1\n"));
    EXPECT_NE(std::string::npos, text.find("auth: u:p q\n"));
    EXPECT_EQ(std::string::npos, text.find("\nhold"));
}

TEST(RigProtocolText, OptionalFieldsAppearOnlyWhenSet)
{
    RigAnswer answer;
    answer.generatedSize = 0;
    answer.cutAfter = 0;

    EXPECT_EQ("status: 200\nbody-size: 0\ncut-after: 0\n\n", answer.Format());
}

TEST(RigProtocolText, RecordsSplitAtEmptyLinesWithHeadersInOrder)
{
    const std::string text =
        "id: 1\nlistener: proxy\nmethod: GET\ntarget: http://h:80/p?q\npath: /p?q\n"
        "header: Host: h:80\nheader: X-Twice: a\nheader: x-twice: b\nheader: Empty: \n"
        "body-length: 3\nbody: 610063\nstatus: 407\nanswer: 0\n\n"
        "id: 2\r\nlistener: https\r\nmethod: \r\nerror: TLS handshake: bad\r\nunknown: skipped\r\n";

    std::vector<RigRequest> requests = RigRequest::ParseAll(text);

    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(1, requests[0].id);
    EXPECT_EQ("http://h:80/p?q", requests[0].target);
    EXPECT_EQ("/p?q", requests[0].path);
    EXPECT_EQ("h:80", requests[0].Header("HOST"));
    EXPECT_EQ("a, b", requests[0].Header("X-Twice"));
    ASSERT_EQ(4u, requests[0].headerList.size());
    EXPECT_EQ("x-twice", requests[0].headerList[2].first);
    EXPECT_TRUE(requests[0].HasHeader("empty"));
    EXPECT_FALSE(requests[0].HasHeader("Authorization"));
    EXPECT_EQ(std::string("a\0c", 3), requests[0].body);
    EXPECT_EQ(3u, requests[0].bodyLength);
    EXPECT_EQ(407, requests[0].status);
    EXPECT_EQ(2, requests[1].id);
    EXPECT_EQ("", requests[1].method);
    EXPECT_EQ("TLS handshake: bad", requests[1].error);
}

TEST(RigProtocolText, NoRecordsInEmptyText)
{
    EXPECT_TRUE(RigRequest::ParseAll("").empty());
    EXPECT_TRUE(RigRequest::ParseAll("\n\n").empty());
}

}  // namespace

#include "mvurl/CUrlMgr.h"
#include "mvurl/CUrlRequest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

int32_t NoCompletion(CUrlRequest*, int32_t, const uint8_t*)
{
    return 0;
}

std::string Pattern(size_t n, size_t offset)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((offset + i) % 251);
    return s;
}

TEST(CUrlRequest, ContentNeverPassesItsLimitNorReservesBeyondIt)
{
    CUrlRequest* r = CUrlRequest::Create(nullptr, "u", 0, NoCompletion);
    ASSERT_NE(nullptr, r);
    constexpr uint32_t kLimit = 20000;
    r->SetBodyLimit(kLimit);
    const std::string piece = Pattern(12000, 0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(piece.data());
    ASSERT_EQ(1, r->AppendContent(bytes, 12000));
    EXPECT_TRUE(r->WouldPassLimit(8001));
    EXPECT_FALSE(r->WouldPassLimit(8000));
    // Refused whole: nothing of the refused piece is kept.
    EXPECT_EQ(0, r->AppendContent(bytes, 8001));
    EXPECT_EQ(12000u, r->GetContentLength());
    ASSERT_EQ(1, r->AppendContent(bytes, 8000));
    EXPECT_EQ(kLimit, r->GetContentLength());
    // Doubling from 16 KB would have reserved 32 KB: the limit caps it at its whole 8 KB step.
    EXPECT_LE(r->GetContentCapacity(), 24576u);
    EXPECT_EQ(0, r->Release());
}

TEST(CUrlRequest, ContentGrowsInWholeStepsAndStaysIntact)
{
    CUrlRequest* r = CUrlRequest::Create(nullptr, "u", 0, NoCompletion);
    ASSERT_NE(nullptr, r);
    std::string expected;
    const size_t sizes[] = {1, 8190, 1, 1, 8192, 3, 40000, 8192, 0, 100};
    for (size_t n : sizes) {
        const std::string piece = Pattern(n, expected.size());
        ASSERT_EQ(1, r->AppendContent(reinterpret_cast<const uint8_t*>(piece.data()),
                                      static_cast<uint32_t>(n)));
        expected += piece;
        EXPECT_EQ(expected.size(), r->GetContentLength());
        EXPECT_EQ(0u, r->GetContentCapacity() % 8192) << "capacity not in whole 8 KB steps";
        EXPECT_GE(r->GetContentCapacity(), r->GetContentLength());
    }
    EXPECT_EQ(expected,
              std::string(reinterpret_cast<const char*>(r->GetContent()), r->GetContentLength()));
    r->Release();
}

TEST(CUrlRequest, ManySmallAppendsReallocateOnlyLogarithmically)
{
    CUrlRequest* r = CUrlRequest::Create(nullptr, "u", 0, NoCompletion);
    ASSERT_NE(nullptr, r);
    const uint8_t chunk[100] = {};
    int growths = 0;
    uint32_t capacity = 0;
    for (int i = 0; i < 100000; ++i) {  // 10 MB in 100-byte pieces
        ASSERT_EQ(1, r->AppendContent(chunk, sizeof(chunk)));
        if (r->GetContentCapacity() != capacity) {
            ++growths;
            capacity = r->GetContentCapacity();
        }
    }
    EXPECT_EQ(10000000u, r->GetContentLength());
    // Growing by one 8 KB step at a time would take over 1200 reallocations.
    EXPECT_LE(growths, 12);
    r->Release();
}

TEST(CUrlRequest, SizesNoBufferCanHoldChangeNothing)
{
    CUrlRequest* r = CUrlRequest::Create(nullptr, "u", 0, NoCompletion);
    ASSERT_NE(nullptr, r);
    const uint8_t byte = 7;
    ASSERT_EQ(1, r->AppendContent(&byte, 1));
    const uint32_t capacity = r->GetContentCapacity();
    // Refused before any copy or allocation: rounded up to whole steps they would wrap round.
    EXPECT_EQ(0, r->AppendContent(&byte, 0xFFFFFFFFu));
    EXPECT_FALSE(r->ReserveContent(0xFFFFFFFFu));
    EXPECT_EQ(capacity, r->GetContentCapacity());
    ASSERT_EQ(1u, r->GetContentLength());
    EXPECT_EQ(7, r->GetContent()[0]);
    r->Release();
}

struct Delivery {
    CUrlRequest* request;
    int32_t value;
    std::string content;
    bool contentNull;
};
std::vector<Delivery> g_deliveries;

int32_t Deliver(CUrlRequest* request, int32_t value, const uint8_t* content)
{
    Delivery d{request, value, {}, content == nullptr};
    if (content != nullptr && value > 0)
        d.content.assign(reinterpret_cast<const char*>(content), value);
    g_deliveries.push_back(d);
    return 0;
}

class CUrlMgrDispatch : public ::testing::Test {
protected:
    void SetUp() override { g_deliveries.clear(); }
    CUrlRequest* Finished(const char* url, int32_t result, const char* body)
    {
        CUrlRequest* r = CUrlRequest::Create(&mgr, url, 1, Deliver);
        r->SetResult(result);
        if (body != nullptr)
            r->AppendContent(reinterpret_cast<const uint8_t*>(body),
                             static_cast<uint32_t>(strlen(body)));
        mgr.RequestDone(r);
        return r;
    }
    CUrlMgr mgr;
};

TEST_F(CUrlMgrDispatch, DeliversInFinishingOrderWithTheResultTable)
{
    // A failure's code, or the body's length with the body; an error page's body never goes.
    const struct {
        int32_t result;
        const char* body;
        int32_t value;
        const char* delivered;  // null: no content
    } rows[] = {{0, "body", 4, "body"},
                {0, nullptr, 0, nullptr},
                {401, "ignored page", 401, nullptr},
                {12029, "partial", 12029, nullptr}};
    std::vector<CUrlRequest*> finished;
    for (const auto& row : rows)
        finished.push_back(Finished("u", row.result, row.body));
    EXPECT_EQ(4u, mgr.GetCompletedCount());
    mgr.DispatchResults();
    ASSERT_EQ(4u, g_deliveries.size());
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(finished[i], g_deliveries[i].request) << i;
        EXPECT_EQ(rows[i].value, g_deliveries[i].value) << i;
        EXPECT_EQ(rows[i].delivered == nullptr, g_deliveries[i].contentNull) << i;
        if (rows[i].delivered != nullptr) {
            EXPECT_EQ(rows[i].delivered, g_deliveries[i].content) << i;
        }
    }
    EXPECT_EQ(0u, mgr.GetCompletedCount());
}

TEST_F(CUrlMgrDispatch, CleanupDropsUndeliveredRequests)
{
    Finished("a", 0, "x");
    mgr.Cleanup();
    mgr.DispatchResults();
    EXPECT_TRUE(g_deliveries.empty());
    EXPECT_EQ(0u, mgr.GetCompletedCount());
}

TEST_F(CUrlMgrDispatch, WithoutWorkerEveryRequestIsRefused)
{
    CUrlRequest* out = nullptr;
    EXPECT_EQ(MVURL_E_NO_WORKER, mgr.CreateRequest("https://a/", 1, Deliver, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(MVURL_E_ARGUMENT, mgr.CreateRequest(nullptr, 1, Deliver, &out));
    EXPECT_EQ(MVURL_E_ARGUMENT, mgr.CreateRequest("https://a/", 1, Deliver, nullptr));
    // Only a null download interface has a worker kind.
    int table = 0;
    EXPECT_EQ(0u, mgr.Init(&table, 0));
    EXPECT_FALSE(mgr.HasWorker());
    EXPECT_EQ(MVURL_E_NO_WORKER, mgr.CreateRequest("https://a/", 1, Deliver, &out));
}

}  // namespace

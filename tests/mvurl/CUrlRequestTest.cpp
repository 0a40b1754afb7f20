#include "mvurl/CUrlMgr.h"
#include "mvurl/CUrlRequest.h"
#include "tests/support/FailingAllocation.h"

#include <gtest/gtest.h>

#include <cstdint>
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

TEST(CUrlRequest, ContentNeverPassesItsLimitNorReservesFarBeyondIt)
{
    CUrlRequest* r = CUrlRequest::Create(nullptr, "u", 0, NoCompletion);
    ASSERT_NE(nullptr, r);
    constexpr uint32_t kLimit = 1000000;
    r->SetBodyLimit(kLimit);
    const std::string piece = Pattern(600000, 0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(piece.data());
    ASSERT_EQ(1, r->AppendContent(bytes, 600000));
    EXPECT_TRUE(r->WouldPassLimit(400001));
    EXPECT_FALSE(r->WouldPassLimit(400000));
    // Refused whole: nothing of the refused piece is kept.
    EXPECT_EQ(0, r->AppendContent(bytes, 400001));
    EXPECT_EQ(600000u, r->GetContentLength());
    ASSERT_EQ(1, r->AppendContent(bytes, 400000));
    EXPECT_EQ(kLimit, r->GetContentLength());
    // Doubling the buffer would reserve far more than the limit lets the body reach.
    EXPECT_LT(r->GetContentCapacity(), kLimit + kLimit / 10);
    EXPECT_EQ(0, r->Release());
}

// Pieces of odd sizes, then 10 MB in 100-byte pieces: the content is always exactly what was
// appended, and the buffer is reallocated only a logarithmic number of times.
TEST(CUrlRequest, ContentStaysIntactAndGrowsInFewReallocations)
{
    CUrlRequest* r = CUrlRequest::Create(nullptr, "u", 0, NoCompletion);
    ASSERT_NE(nullptr, r);
    std::vector<size_t> sizes = {1, 8190, 1, 1, 8192, 3, 40000, 8192, 0, 100};
    sizes.resize(sizes.size() + 100000, 100);
    std::string expected;
    int growths = 0;
    uint32_t capacity = 0;
    for (size_t n : sizes) {
        const std::string piece = Pattern(n, expected.size());
        ASSERT_EQ(1, r->AppendContent(reinterpret_cast<const uint8_t*>(piece.data()),
                                      static_cast<uint32_t>(n)));
        expected += piece;
        ASSERT_GE(r->GetContentCapacity(), r->GetContentLength());
        if (r->GetContentCapacity() != capacity) {
            ++growths;
            capacity = r->GetContentCapacity();
        }
    }
    EXPECT_EQ(expected,
              std::string(reinterpret_cast<const char*>(r->GetContent()), r->GetContentLength()));
    // Growing by a fixed step would take over a thousand reallocations.
    EXPECT_LE(growths, 16);
    r->Release();
}

TEST(CUrlRequest, SizesNoBufferCanHoldAndFailedGrowthsChangeNothing)
{
    CUrlRequest* r = CUrlRequest::Create(nullptr, "u", 0, NoCompletion);
    ASSERT_NE(nullptr, r);
    const uint8_t byte = 7;
    ASSERT_EQ(1, r->AppendContent(&byte, 1));
    const uint32_t capacity = r->GetContentCapacity();
    // Refused before any copy or allocation: rounded up to whole steps they would wrap round.
    EXPECT_EQ(0, r->AppendContent(&byte, 0xFFFFFFFFu));
    EXPECT_FALSE(r->ReserveContent(0xFFFFFFFFu));
    // Memory runs out for any buffer larger than the one there is.
    const std::string more = Pattern(capacity, 1);
    FailAllocationsFrom(capacity + 1);
    EXPECT_EQ(0, r->AppendContent(reinterpret_cast<const uint8_t*>(more.data()), capacity));
    EXPECT_FALSE(r->ReserveContent(capacity + 1));
    EXPECT_EQ(nullptr, r->ReserveTail(capacity));
    const bool failed = AllocationFailed();
    FailAllocationsFrom(SIZE_MAX);
    EXPECT_TRUE(failed);
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

#include "mvurl/CUrlMgr.h"
#include "mvurl/CUrlRequest.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((offset + i) % 251);
    return s;
}

TEST(CUrlRequest, CreationCopiesTheUrlAndStartsClean)
{
    std::string url = "https://alpha.beta/x";
    CUrlRequest* r = CUrlRequest::Create(nullptr, url.c_str(), 1, NoCompletion);
    ASSERT_NE(nullptr, r);
    url[0] = 'X';
    EXPECT_STREQ("https://alpha.beta/x", r->GetUrl().GetBuffer());
    EXPECT_EQ(1u, r->GetSecure());
    EXPECT_FALSE(r->IsCancelled());
    EXPECT_EQ(0, r->GetResult());
    EXPECT_EQ(nullptr, r->GetContent());
    EXPECT_EQ(0u, r->GetContentLength());
    r->SetCancelled();
    EXPECT_TRUE(r->IsCancelled());
    EXPECT_EQ(0, r->Release());
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

TEST(CUrlRequest, LastReleaseDestroys)
{
    CUrlRequest* r = CUrlRequest::Create(nullptr, "u", 0, NoCompletion);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(2, r->AddRef());
    EXPECT_EQ(1, r->Release());
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
        ASSERT_EQ(1, r->AppendContent(reinterpret_cast<const uint8_t*>(piece.data()), static_cast<uint32_t>(n)));
        expected += piece;
        EXPECT_EQ(expected.size(), r->GetContentLength());
        EXPECT_EQ(0u, r->GetContentCapacity() % 8192) << "capacity not in whole 8 KB steps";
        EXPECT_GE(r->GetContentCapacity(), r->GetContentLength());
    }
    EXPECT_EQ(expected, std::string(reinterpret_cast<const char*>(r->GetContent()), r->GetContentLength()));
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

TEST(CUrlRequest, ReservedContentTakesTheWholeBodyWithoutRegrowing)
{
    CUrlRequest* r = CUrlRequest::Create(nullptr, "u", 0, NoCompletion);
    ASSERT_NE(nullptr, r);
    const std::string head = Pattern(100, 0);
    ASSERT_EQ(1, r->AppendContent(reinterpret_cast<const uint8_t*>(head.data()), 100));
    // An announced length of 5 MB + 17: one buffer in whole steps, the bytes held so far kept.
    const uint32_t announced = 5 * 1024 * 1024 + 17;
    ASSERT_TRUE(r->ReserveContent(announced));
    const uint32_t reserved = r->GetContentCapacity();
    EXPECT_EQ(0u, reserved % 8192);
    EXPECT_GE(reserved, announced);
    EXPECT_LT(reserved - announced, 8192u);
    const uint8_t* buffer = r->GetContent();
    std::string expected = head;
    while (expected.size() < announced) {
        const std::string piece = Pattern(std::min<size_t>(8192, announced - expected.size()), expected.size());
        ASSERT_EQ(1, r->AppendContent(reinterpret_cast<const uint8_t*>(piece.data()), static_cast<uint32_t>(piece.size())));
        expected += piece;
    }
    EXPECT_EQ(buffer, r->GetContent()) << "the reserved buffer was replaced";
    EXPECT_EQ(reserved, r->GetContentCapacity());
    EXPECT_EQ(expected, std::string(reinterpret_cast<const char*>(r->GetContent()), r->GetContentLength()));

    // More than announced still arrives whole: the buffer grows again from there.
    const uint8_t tail[3] = {1, 2, 3};
    ASSERT_EQ(1, r->AppendContent(tail, 3));
    EXPECT_EQ(announced + 3u, r->GetContentLength());
    EXPECT_EQ(3, r->GetContent()[announced + 2]);
    r->Release();
}

TEST(CUrlRequest, ReservationNeverShrinksAndRefusesTheImpossible)
{
    CUrlRequest* r = CUrlRequest::Create(nullptr, "u", 0, NoCompletion);
    ASSERT_NE(nullptr, r);
    EXPECT_TRUE(r->ReserveContent(0));
    EXPECT_EQ(nullptr, r->GetContent());
    ASSERT_TRUE(r->ReserveContent(20000));
    EXPECT_EQ(24576u, r->GetContentCapacity());
    EXPECT_TRUE(r->ReserveContent(10));
    EXPECT_EQ(24576u, r->GetContentCapacity());
    // No whole number of steps under 4 GB holds this: refused, nothing changed.
    EXPECT_FALSE(r->ReserveContent(0xFFFFFFFFu));
    EXPECT_EQ(24576u, r->GetContentCapacity());
    EXPECT_EQ(0u, r->GetContentLength());
    r->Release();
}

TEST(CUrlRequest, OversizedAppendChangesNothing)
{
    CUrlRequest* r = CUrlRequest::Create(nullptr, "u", 0, NoCompletion);
    ASSERT_NE(nullptr, r);
    const uint8_t byte = 7;
    ASSERT_EQ(1, r->AppendContent(&byte, 1));
    // A length beyond what 32 bits can hold is refused before any copy is attempted.
    EXPECT_EQ(0, r->AppendContent(&byte, 0xFFFFFFFFu));
    EXPECT_EQ(1u, r->GetContentLength());
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
    if (content != nullptr && value > 0) d.content.assign(reinterpret_cast<const char*>(content), value);
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
        if (body != nullptr) r->AppendContent(reinterpret_cast<const uint8_t*>(body), static_cast<uint32_t>(strlen(body)));
        mgr.RequestDone(r);
        return r;
    }
    CUrlMgr mgr;
};

TEST_F(CUrlMgrDispatch, DeliversInFinishingOrderWithTheResultTable)
{
    CUrlRequest* a = Finished("a", 0, "body");
    CUrlRequest* b = Finished("b", 0, nullptr);
    CUrlRequest* c = Finished("c", 401, "ignored page");
    CUrlRequest* d = Finished("d", 12029, "partial");
    EXPECT_EQ(4u, mgr.GetCompletedCount());
    mgr.DispatchResults();
    ASSERT_EQ(4u, g_deliveries.size());
    EXPECT_EQ(a, g_deliveries[0].request);
    EXPECT_EQ(4, g_deliveries[0].value);
    EXPECT_EQ("body", g_deliveries[0].content);
    EXPECT_EQ(b, g_deliveries[1].request);
    EXPECT_EQ(0, g_deliveries[1].value);
    EXPECT_TRUE(g_deliveries[1].contentNull);
    EXPECT_EQ(c, g_deliveries[2].request);
    EXPECT_EQ(401, g_deliveries[2].value);
    EXPECT_TRUE(g_deliveries[2].contentNull);
    EXPECT_EQ(d, g_deliveries[3].request);
    EXPECT_EQ(12029, g_deliveries[3].value);
    EXPECT_TRUE(g_deliveries[3].contentNull);
    EXPECT_EQ(0u, mgr.GetCompletedCount());
}

TEST_F(CUrlMgrDispatch, CancelledRequestsAreReleasedWithoutDelivery)
{
    CUrlRequest* a = Finished("a", 0, "x");
    Finished("b", 0, "y");
    mgr.CancelRequest(a);
    mgr.DispatchResults();
    ASSERT_EQ(1u, g_deliveries.size());
    EXPECT_EQ(1, g_deliveries[0].value);
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
}

}  // namespace

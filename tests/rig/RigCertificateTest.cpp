// The rig's certificates for another name and past their date, and what WinInet does with them:
// refused by default; accepted when the request's ignore flags are set, also when the
// revocation flag (0x80) is set on top the way the program does; the revocation flag alone
// doesn't ignore either fault, not even on a retry after the first failure.
#include "tests/rig/RigTestBase.h"

namespace {

const DWORD kProgramFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                            INTERNET_FLAG_SECURE;
const DWORD kIgnoreNameAndDate = INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;

struct Attempt {
    bool sent = false;
    DWORD error = 0;
    DWORD status = 0;
};

class RigCertificateTest : public RigTestBase {
protected:
    void SetUp() override
    {
        RigTestBase::SetUp();
        ASSERT_FALSE(env.wrongNameHost.empty()) << "the rig needs a wrong-name address with a name";
        ASSERT_FALSE(env.expiredHost.empty()) << "the rig needs an expired address with a name";
        ASSERT_GT(rig.Script(Answer("/certificate", 200, "accepted")), 0) << rig.LastError();
        ASSERT_TRUE(client.IsOpen());
    }

    // A GET of /certificate on port 443 of host, opened with the request flags given.
    void Open(const std::string& host, DWORD flags)
    {
        connection.Reset(InternetConnectA(client.Root(), host.c_str(), INTERNET_DEFAULT_HTTPS_PORT, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 1));
        ASSERT_TRUE(connection);
        request.Reset(HttpOpenRequestA(connection.Get(), "GET", "/certificate", "HTTP/1.0", nullptr, nullptr, flags, 1));
        ASSERT_TRUE(request);
    }

    void SetSecurityFlags(DWORD flags)
    {
        ASSERT_TRUE(InternetSetOptionA(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags)));
    }

    DWORD SecurityFlags()
    {
        DWORD flags = 0;
        DWORD length = sizeof(flags);
        InternetQueryOptionA(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &length);
        return flags;
    }

    Attempt Send()
    {
        Attempt attempt;
        attempt.sent = HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0);
        attempt.error = attempt.sent ? 0 : GetLastError();
        if (attempt.sent) {
            DWORD length = sizeof(attempt.status);
            HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &attempt.status, &length,
                           nullptr);
        }
        return attempt;
    }

    WinInetExchange client;
    InternetHandle connection;
    InternetHandle request;
};

TEST_F(RigCertificateTest, GoodCertificateIsAcceptedByNameAndByAddress)
{
    for (const std::string& host : {env.host, env.address}) {
        Open(host, kProgramFlags);
        Attempt attempt = Send();
        EXPECT_TRUE(attempt.sent) << host << ": " << attempt.error;
        EXPECT_EQ(200u, attempt.status) << host;
    }
}

TEST_F(RigCertificateTest, CertificateForAnotherNameIsRefused)
{
    Open(env.wrongNameHost, kProgramFlags);
    Attempt attempt = Send();

    EXPECT_FALSE(attempt.sent);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNET_SEC_CERT_CN_INVALID), attempt.error);
    EXPECT_TRUE(rig.RequestsTo("/certificate").empty());
}

TEST_F(RigCertificateTest, ExpiredCertificateIsRefused)
{
    Open(env.expiredHost, kProgramFlags);
    Attempt attempt = Send();

    EXPECT_FALSE(attempt.sent);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNET_SEC_CERT_DATE_INVALID), attempt.error);
    EXPECT_TRUE(rig.RequestsTo("/certificate").empty());
}

TEST_F(RigCertificateTest, RevocationFlagAloneIgnoresNeitherFaultEvenOnRetry)
{
    struct Case {
        std::string host;
        DWORD error;
    } cases[] = {{env.wrongNameHost, ERROR_INTERNET_SEC_CERT_CN_INVALID},
                 {env.expiredHost, ERROR_INTERNET_SEC_CERT_DATE_INVALID}};
    for (const Case& c : cases) {
        Open(c.host, kProgramFlags);
        SetSecurityFlags(SECURITY_FLAG_IGNORE_REVOCATION);
        Attempt first = Send();
        SetSecurityFlags(SECURITY_FLAG_IGNORE_REVOCATION);
        Attempt retry = Send();

        EXPECT_EQ(c.error, first.error) << c.host;
        EXPECT_FALSE(retry.sent) << c.host;
        EXPECT_EQ(c.error, retry.error) << c.host;
    }
    EXPECT_TRUE(rig.RequestsTo("/certificate").empty());
}

TEST_F(RigCertificateTest, RevocationFlagAddsToTheRequestsIgnoreFlags)
{
    for (const std::string& host : {env.wrongNameHost, env.expiredHost}) {
        Open(host, kProgramFlags | kIgnoreNameAndDate);
        SetSecurityFlags(SECURITY_FLAG_IGNORE_REVOCATION);
        EXPECT_EQ(kIgnoreNameAndDate | SECURITY_FLAG_IGNORE_REVOCATION,
                  SecurityFlags() & (kIgnoreNameAndDate | SECURITY_FLAG_IGNORE_REVOCATION))
            << host;
        Attempt attempt = Send();

        EXPECT_TRUE(attempt.sent) << host << ": " << attempt.error;
        EXPECT_EQ(200u, attempt.status) << host;
    }
    std::vector<RigRequest> requests = rig.RequestsTo("/certificate");
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(env.wrongNameAddress + ":443", requests[0].local);
    EXPECT_EQ(env.expiredAddress + ":443", requests[1].local);
}

TEST_F(RigCertificateTest, IgnoreFlagsSetAfterAFailureLetTheRetryThrough)
{
    for (const std::string& host : {env.wrongNameHost, env.expiredHost}) {
        Open(host, kProgramFlags);
        Attempt first = Send();
        SetSecurityFlags(SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                         SECURITY_FLAG_IGNORE_CERT_DATE_INVALID);
        Attempt retry = Send();

        EXPECT_FALSE(first.sent) << host;
        EXPECT_TRUE(retry.sent) << host << ": " << retry.error;
        EXPECT_EQ(200u, retry.status) << host;
    }
}

}  // namespace

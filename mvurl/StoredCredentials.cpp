#include "mvurl/StoredCredentials.h"

#include "mvurl/CProductKey.h"
#include "trace/CTraceSecrets.h"
#include "util/SecureWipe.h"
#include "util/Unscramble.h"
#include "util/SettingNames.h"

namespace {

constexpr DWORD kScrambledSize = 256;

int ReadCredentials(const char* userValue, const char* passwordValue, char* user, char* password,
                    DWORD size)
{
    CProductKey key;
    if (!key.IsOpen() || !key.ReadText(userValue, user, size))
        return 0;
    char scrambled[kScrambledSize] = {};
    key.ReadText(passwordValue, scrambled, kScrambledSize);
    UnscrambleHexText(scrambled, password, size);
    CTraceSecrets::Instance().Add(password);
    SecureWipe(scrambled);
    return 1;
}

}  // namespace

int ReadProxyCredentials(char* user, char* password, DWORD size)
{
    return ReadCredentials(kProxyUserSettingA, kProxyPasswordSettingA, user, password, size);
}

int ReadServerCredentials(char* user, char* password, DWORD size)
{
    return ReadCredentials(kServerUserSettingA, kServerPasswordSettingA, user, password, size);
}

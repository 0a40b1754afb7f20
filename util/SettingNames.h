// The product's settings: the key under HKEY_LOCAL_MACHINE, its section, and the names of its
// values, each named once here. Every name comes in the wide form the configuration store
// takes and, with an A at the end, the narrow form the URL module's reader takes.
// No Windows header here: this also builds natively.
#pragma once

#define MVU_SETTING_NAME(id, text)                                                                 \
    inline constexpr wchar_t id[] = L"" text;                                                      \
    inline constexpr char id##A[] = text;

// The product's key, and its one section: a subkey of it.
MVU_SETTING_NAME(kProductKeyPath, "SOFTWARE\\Orvik\\Config\\MV")
MVU_SETTING_NAME(kSettingsSection, "General")

// The run.
MVU_SETTING_NAME(kServerSetting, "SURL")
MVU_SETTING_NAME(kTokenSetting, "RTN")
MVU_SETTING_NAME(kLanguageSetting, "LANGUAGEID")
MVU_SETTING_NAME(kTraceLevelSetting, "TraceLevel")
MVU_SETTING_NAME(kInstallSectionSetting, "InstallSectionName")
MVU_SETTING_NAME(kTrayIconSetting, "SystemTrayIcon")

// Signed answers and staged rollouts.
MVU_SETTING_NAME(kUpdateKeySetting, "MVUpdateKey")
MVU_SETTING_NAME(kLastSerialSetting, "MVLastSerial")
MVU_SETTING_NAME(kRolloutBucketSetting, "MVRolloutBucket")

// The URL module.
MVU_SETTING_NAME(kUploadUrlSetting, "UploadURL")
MVU_SETTING_NAME(kRelaxedTlsSetting, "MVRelaxedTls")
MVU_SETTING_NAME(kProxyEnableSetting, "MVProxyEnable")
MVU_SETTING_NAME(kProxyServerSetting, "MVProxyServer")
MVU_SETTING_NAME(kProxyBypassSetting, "MVProxyBypass")
MVU_SETTING_NAME(kProxyUserSetting, "ProxyUserName")
MVU_SETTING_NAME(kProxyPasswordSetting, "ProxyPassword")
MVU_SETTING_NAME(kServerUserSetting, "ServerAuthUserName")
MVU_SETTING_NAME(kServerPasswordSetting, "ServerAuthPassword")

#undef MVU_SETTING_NAME

#include "support/os_info.h"

#include <cstdlib>

const char* const kInitOSInfoFailedText = "InitOSInfo失败";
const char* const kUnsupportedOSText = "不支持该操作系统(GTC)";
const char* const kFatalStopCaption = "(((m -_-)";

int ParseFileVersionNumber(const std::string& strText) {
    if (strText.size() < 3 || strText.find('.') == std::string::npos)
        return 0;
    // The major part is one or two characters; the minor part is the single character
    // one past it (the first one after the dot in a normal version text).
    std::string strMajor(1, strText[0]);
    if (strText[1] != '.')
        strMajor += strText[1];
    std::string::size_type nMinorPos = strMajor.size() + 1;
    std::string strMinor = nMinorPos < strText.size() ? std::string(1, strText[nMinorPos]) : "";
    return std::atoi(strMajor.c_str()) * 100 + std::atoi(strMinor.c_str());
}

EOSIdentifyResult IdentifyOS(const COSProbe& probe, OSInfo& info) {
    if (info.version != 0)
        return EOSIdentifyResult::Ok;
    int nFileVersion = ParseFileVersionNumber(probe.strKernel32Version);
    if (!probe.bVersionExOk)
        return EOSIdentifyResult::VersionExFailed;

    int nVersion = probe.nMajor * 100 + probe.nMinor;
    if (nFileVersion > 601)
        nVersion = nFileVersion;

    const bool bWorkstation = probe.nProductType == 1;
    std::string strName;
    bool bServer = false;
    bool bIs64 = false;
    bool bSkipWow64 = false;
    switch (nVersion) {
    case 500:
        strName = "2000";
        break;
    case 501:
        strName = "xp";
        break;
    case 502:
        if (bWorkstation && probe.nProcessorArchitecture == 9) {
            strName = "xp";
            bIs64 = true;
            bSkipWow64 = true;
        } else {
            strName = probe.bServerR2 ? "2003 r2" : "2003";
            bServer = true;
        }
        break;
    default: {
        // From Vista on, one workstation and one server name per version.
        static const struct {
            int nVersion;
            const char* pszWorkstation;
            const char* pszServer;
        } kReleases[] = {{600, "vista", "2008"},
                         {601, "win7", "2008 r2"},
                         {602, "win8", "2012"},
                         {603, "win8.1", "2012 r2"},
                         {1000, "win10", "2016"}};
        for (const auto& release : kReleases) {
            if (release.nVersion == nVersion) {
                strName = bWorkstation ? release.pszWorkstation : release.pszServer;
                bServer = !bWorkstation;
            }
        }
        break;
    }
    }
    if (!bSkipWow64 && !bIs64)
        bIs64 = probe.bWow64;

    if (nFileVersion <= 601 && nFileVersion != nVersion) {
        nVersion = 1;
        strName.clear();
    }
    if (nVersion == 1)
        strName.clear();

    info.version = nVersion;
    info.name = strName;
    info.isServer = bServer;
    info.is64Bit = bIs64;
    return EOSIdentifyResult::Ok;
}

bool IsWin8(const OSInfo& info) {
    return info.version == 602 && !info.isServer;
}
bool IsServer2012(const OSInfo& info) {
    return info.version == 602 && info.isServer;
}
bool IsWin10(const OSInfo& info) {
    return info.version == 1000 && !info.isServer;
}

bool IsSupportedOS(const OSInfo& info) {
    const bool bIs64 = info.is64Bit;
    if (info.name.find("xp") != std::string::npos && !bIs64)
        return true;
    if (info.name.find("2003") != std::string::npos && !bIs64)
        return true;
    if (info.version == 600 && info.isServer && !bIs64)
        return true;
    if (info.version == 601 || info.version == 603)
        return true;
    return IsWin8(info) || IsServer2012(info) || IsWin10(info);
}

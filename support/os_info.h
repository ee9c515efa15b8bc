// Identification of the Windows release and the supported-release gate, as pure
// functions of what the system probes report, so that they run and are tested anywhere.
#pragma once

#include <string>

// What the system reports; filled by the Windows probes, or by tests.
struct COSProbe {
    std::string strKernel32Version; // FileVersion text(s) of kernel32.dll, "" if none
    bool bVersionExOk = true;       // GetVersionExA succeeded
    int nMajor = 0;                 // dwMajorVersion
    int nMinor = 0;                 // dwMinorVersion
    int nProductType = 1;           // wProductType, 1 = workstation
    int nProcessorArchitecture = 0; // wProcessorArchitecture, 9 = AMD64
    bool bServerR2 = false;         // GetSystemMetrics(SM_SERVERR2) != 0
    bool bWow64 = false;            // IsWow64Process said yes (false when missing or failing)
};

struct OSInfo {
    int version = 0; // major * 100 + minor; 1 when the two sources disagree; 0 = not identified
    std::string name;
    bool isServer = false;
    bool is64Bit = false;
};

enum class EOSIdentifyResult { Ok, VersionExFailed };

// atoi(major) * 100 + atoi(minor) of a kernel version text, 0 when it has none.
int ParseFileVersionNumber(const std::string& strText);

// Fills info from a probe. VersionExFailed means the caller must stop with
// kInitOSInfoFailedText.
EOSIdentifyResult IdentifyOS(const COSProbe& probe, OSInfo& info);

bool IsWin8(const OSInfo& info);
bool IsServer2012(const OSInfo& info);
bool IsWin10(const OSInfo& info);

// The supported-list rows; false means the caller must stop with kUnsupportedOSText.
bool IsSupportedOS(const OSInfo& info);

extern const char* const kInitOSInfoFailedText; // "InitOSInfo失败"
extern const char* const kUnsupportedOSText;    // "不支持该操作系统(GTC)"
extern const char* const kFatalStopCaption;     // "(((m -_-)"

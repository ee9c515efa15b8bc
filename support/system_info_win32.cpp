// The Windows probes behind the release gate, the start tick and the fatal stop.
#include "support/system_info.h"

#include "support/format.h"
#include "support/text_win32.h"

#include <windows.h>

#include <mutex>
#include <vector>

std::string GetKernel32Version() {
    DWORD dwHandle = 0;
    DWORD nSize = ::GetFileVersionInfoSizeW(L"kernel32.dll", &dwHandle);
    if (nSize == 0)
        return std::string();
    std::vector<unsigned char> buffer(nSize);
    if (!::GetFileVersionInfoW(L"kernel32.dll", 0, nSize, buffer.data()))
        return std::string();
    void* pTranslations = nullptr;
    UINT nBytes = 0;
    if (!::VerQueryValueW(buffer.data(), L"\\VarFileInfo\\Translation", &pTranslations, &nBytes) ||
        nBytes < 4)
        return std::string();
    const WORD* pWords = static_cast<const WORD*>(pTranslations);
    std::string strResult;
    for (UINT i = 0; i + 4 <= nBytes; i += 4) {
        wchar_t szQuery[64];
        ::wsprintfW(szQuery, L"\\StringFileInfo\\%04x%04x\\FileVersion", pWords[i / 2],
                    pWords[i / 2 + 1]);
        void* pValue = nullptr;
        UINT nChars = 0;
        if (::VerQueryValueW(buffer.data(), szQuery, &pValue, &nChars) && pValue != nullptr)
            strResult += ProgramTextFromWide(static_cast<const wchar_t*>(pValue));
    }
    return strResult;
}

static COSProbe ProbeSystem() {
    COSProbe probe;
    SYSTEM_INFO si{};
    using PFN_GetNativeSystemInfo = void(WINAPI*)(LPSYSTEM_INFO);
    HMODULE hKernel = ::GetModuleHandleW(L"kernel32.dll");
    auto pfnNative = reinterpret_cast<PFN_GetNativeSystemInfo>(
        reinterpret_cast<void*>(::GetProcAddress(hKernel, "GetNativeSystemInfo")));
    if (pfnNative != nullptr)
        pfnNative(&si);
    else
        ::GetSystemInfo(&si);
    probe.nProcessorArchitecture = si.wProcessorArchitecture;

    probe.strKernel32Version = GetKernel32Version();

    OSVERSIONINFOEXA osvi{};
    osvi.dwOSVersionInfoSize = sizeof(osvi);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    probe.bVersionExOk = ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&osvi)) != FALSE;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    probe.nMajor = static_cast<int>(osvi.dwMajorVersion);
    probe.nMinor = static_cast<int>(osvi.dwMinorVersion);
    probe.nProductType = osvi.wProductType;
    probe.bServerR2 = ::GetSystemMetrics(SM_SERVERR2) != 0;

    using PFN_IsWow64Process = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto pfnWow64 = reinterpret_cast<PFN_IsWow64Process>(
        reinterpret_cast<void*>(::GetProcAddress(hKernel, "IsWow64Process")));
    BOOL bWow64 = FALSE;
    if (pfnWow64 != nullptr && pfnWow64(::GetCurrentProcess(), &bWow64))
        probe.bWow64 = bWow64 != FALSE;
    return probe;
}

const OSInfo& InitOSInfo() {
    // Identified once, on the window's thread, before any worker exists.
    static OSInfo info;
    if (info.version != 0)
        return info;
    if (IdentifyOS(ProbeSystem(), info) != EOSIdentifyResult::Ok)
        FatalStop(kInitOSInfoFailedText, 0);
    return info;
}

uint32_t GetStartTick() {
    if (!IsSupportedOS(InitOSInfo()))
        FatalStop(kUnsupportedOSText, 0);
    return static_cast<uint32_t>(::GetTickCount());
}

static HWND g_hMainWindow = nullptr;

void SetFatalStopMainWindow(void* hWnd) {
    g_hMainWindow = static_cast<HWND>(hWnd);
}

void FatalStop(const char* pszText, unsigned int) {
    static std::mutex s_csFatal;
    s_csFatal.lock(); // never released: a second caller waits until the process ends

    HWND hOwner = ::GetActiveWindow();
    if (hOwner == nullptr)
        hOwner = g_hMainWindow;
    std::wstring strText = WideFromProgramText(pszText != nullptr ? pszText : "");
    std::wstring strCaption = WideFromProgramText(kFatalStopCaption);
    using PFN_MessageBoxTimeoutW = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT, WORD, DWORD);
    static PFN_MessageBoxTimeoutW s_pfnTimeout = nullptr;
    static bool s_bLookedUp = false;
    if (!s_bLookedUp) {
        HMODULE hUser = ::LoadLibraryW(L"user32.dll");
        if (hUser != nullptr)
            s_pfnTimeout = reinterpret_cast<PFN_MessageBoxTimeoutW>(
                reinterpret_cast<void*>(::GetProcAddress(hUser, "MessageBoxTimeoutW")));
        s_bLookedUp = true;
    }
    if (s_pfnTimeout != nullptr)
        s_pfnTimeout(hOwner, strText.c_str(), strCaption.c_str(), MB_ICONERROR | MB_OK, 0, 0);
    else
        ::MessageBoxW(hOwner, strText.c_str(), strCaption.c_str(), MB_ICONERROR | MB_OK);
    ::TerminateProcess(::GetCurrentProcess(), 0);
    ::ExitProcess(0); // not reached
}

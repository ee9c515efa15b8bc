// A second Win32 program that drives tachyra.exe as a user would. Each argument is one
// step; results go to standard output as UTF-8 lines; the exit code is 0 when every step
// succeeded. Ids are control ids, times milliseconds.
//   wait-window:MS        find the main window by its caption
//   caption, acp, exists, text:ID, enabled:ID, pane:N
//                         print "<what> [ID] <value>"
//   wait:WHAT:ID:VALUE:MS until the value is as given; seen:... polls without pausing, to
//                         catch a caption that shows only briefly; wait-rate:N:MS until
//                         pane N shows more than 0.00MB/s
//   set:ID:TEXT, click:ID (posted, as a mouse click), key:ID:VK, close (system menu)
//   gone:MS               until the main window has gone
//   box:MS                print "box <caption> | <text> | icon|plain" of the next message
//                         box (of any program before wait-window) and dismiss it
//   boxes:MS              dismiss every box that shows up within MS; "boxes <count>"
//   reg-get:NAME, reg-set:NAME:TEXT, reg-clear   the program's settings key
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const wchar_t* const kCaption = L"Tachyra - v18.0701";
const wchar_t* const kSettingsKey =
    L"Software\\\u5e94\u7528\u7a0b\u5e8f\u5411\u5bfc\u751f\u6210\u7684\u672c\u5730\u5e94\u7528"
    L"\u7a0b\u5e8f\\tachyra\\Kestrun";

HWND g_hMain = nullptr;
DWORD g_dwPid = 0;

std::string Utf8(const std::wstring& s) {
    int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string r(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &r[0], n, nullptr,
                        nullptr);
    return r;
}

std::wstring Wide(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring r(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &r[0], n);
    return r;
}

bool Out(const std::string& line, bool bOk = true) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    return bOk;
}

template <class Pred> bool WaitUntil(int nMs, Pred pred, DWORD dwPause = 5) {
    DWORD tEnd = GetTickCount() + static_cast<DWORD>(nMs);
    while (!pred()) {
        if (static_cast<int>(GetTickCount() - tEnd) >= 0)
            return false;
        Sleep(dwPause);
    }
    return true;
}

std::wstring TextOf(HWND hWnd) {
    wchar_t buf[1024] = {0};
    DWORD_PTR nResult = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf),
                             SMTO_ABORTIFHUNG, 5000, &nResult))
        return L"<no answer>";
    return buf;
}

// A status bar keeps its texts in its own process: the buffer has to live there too.
std::wstring PaneText(int nPart) {
    HWND hBar = GetDlgItem(g_hMain, 0xE801);
    HANDLE hProcess = hBar == nullptr
                          ? nullptr
                          : OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                                        FALSE, g_dwPid);
    if (hProcess == nullptr)
        return L"<no status bar>";
    const SIZE_T nBytes = 1024 * sizeof(wchar_t);
    void* pRemote = VirtualAllocEx(hProcess, nullptr, nBytes, MEM_COMMIT, PAGE_READWRITE);
    wchar_t buf[1024] = {0};
    if (pRemote != nullptr) {
        DWORD_PTR nResult = 0;
        SendMessageTimeoutW(hBar, SB_GETTEXTW, static_cast<WPARAM>(nPart),
                            reinterpret_cast<LPARAM>(pRemote), SMTO_ABORTIFHUNG, 5000, &nResult);
        ReadProcessMemory(hProcess, pRemote, buf, nBytes - sizeof(wchar_t), nullptr);
        VirtualFreeEx(hProcess, pRemote, 0, MEM_RELEASE);
    }
    CloseHandle(hProcess);
    return buf;
}

// A message box of the program: a visible dialog of its process, not the main window,
// with the static text control 0xFFFF. Before the main window exists (the fatal stop
// comes before it) any process's box counts.
BOOL CALLBACK FindBoxProc(HWND hWnd, LPARAM lParam) {
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    wchar_t szClass[64] = {0};
    GetClassNameW(hWnd, szClass, 64);
    if ((g_hMain != nullptr && dwPid != g_dwPid) || hWnd == g_hMain || !IsWindowVisible(hWnd) ||
        lstrcmpW(szClass, L"#32770") != 0 || GetDlgItem(hWnd, 0xFFFF) == nullptr)
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}

HWND FindBox() {
    HWND hBox = nullptr;
    EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&hBox));
    return hBox;
}

// Prints the box and presses its OK button. A box with an icon has a static icon
// control: id 0x14 on Windows, 0x440 under Wine.
void DismissBox(HWND hBox) {
    bool bIcon = false;
    for (int nId : {0x14, 0x440}) {
        HWND hIcon = GetDlgItem(hBox, nId);
        bIcon = bIcon || (hIcon != nullptr && IsWindowVisible(hIcon) &&
                          SendMessageW(hIcon, STM_GETICON, 0, 0) != 0);
    }
    Out("box " + Utf8(TextOf(hBox)) + " | " + Utf8(TextOf(GetDlgItem(hBox, 0xFFFF))) + " | " +
        (bIcon ? "icon" : "plain"));
    HWND hOk = GetDlgItem(hBox, IDOK);
    if (hOk == nullptr)
        hOk = GetDlgItem(hBox, IDCANCEL);
    PostMessageW(hBox, WM_COMMAND,
                 MAKEWPARAM(hOk != nullptr ? GetDlgCtrlID(hOk) : IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(hOk));
    WaitUntil(
        5000, [&] { return !IsWindow(hBox); }, 10);
}

// The value of a read step; false for a step that is not one.
bool Read(const std::string& what, int nId, std::string& value) {
    HWND h = GetDlgItem(g_hMain, nId);
    if (what == "acp")
        value = std::to_string(GetACP());
    else if (what == "caption")
        value = Utf8(TextOf(g_hMain));
    else if (what == "exists")
        value = IsWindow(g_hMain) && IsWindowVisible(g_hMain) ? "1" : "0";
    else if (what == "text")
        value = Utf8(TextOf(h));
    else if (what == "enabled")
        value = IsWindowEnabled(h) ? "1" : "0";
    else if (what == "pane")
        value = Utf8(PaneText(nId));
    else
        return false;
    return true;
}

bool Registry(const std::vector<std::string>& a) {
    if (a[0] == "reg-clear")
        return RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey), true;
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &hKey, nullptr) != ERROR_SUCCESS)
        return Out("reg cannot open", false);
    std::wstring name = Wide(a[1]);
    bool bOk = true;
    if (a[0] == "reg-set") {
        std::wstring value = Wide(a[2]);
        bOk = RegSetValueExW(hKey, name.c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * 2)) == ERROR_SUCCESS;
    } else {
        BYTE data[2048] = {0};
        DWORD cb = sizeof(data) - 2, type = 0;
        if (RegQueryValueExW(hKey, name.c_str(), nullptr, &type, data, &cb) != ERROR_SUCCESS)
            Out("reg " + a[1] + " missing");
        else if (type == REG_DWORD)
            Out("reg " + a[1] + " dword " + std::to_string(*reinterpret_cast<int*>(data)));
        else
            Out("reg " + a[1] + (type == REG_SZ ? " sz " : " type ") +
                (type == REG_SZ ? Utf8(reinterpret_cast<wchar_t*>(data)) : std::to_string(type)));
    }
    RegCloseKey(hKey);
    return bOk;
}

bool Step(const std::string& step) {
    std::vector<std::string> a;
    for (size_t start = 0;;) {
        size_t pos = a.size() < 4 ? step.find(':', start) : std::string::npos;
        a.push_back(step.substr(start, pos - start));
        if (pos == std::string::npos)
            break;
        start = pos + 1;
    }
    const size_t nParts = a.size();
    a.resize(5);
    const std::string& op = a[0];
    auto num = [&](size_t i) { return std::atoi(a[i].c_str()); };

    if (op.compare(0, 4, "reg-") == 0)
        return Registry(a);
    if (op == "wait-window") {
        bool bOk = WaitUntil(num(1), [] {
            g_hMain = FindWindowW(L"#32770", kCaption);
            return g_hMain != nullptr && IsWindowVisible(g_hMain);
        });
        GetWindowThreadProcessId(g_hMain, &g_dwPid);
        return Out(bOk ? "window found" : "window not found", bOk);
    }
    if (op == "box") {
        HWND hBox = nullptr;
        if (!WaitUntil(num(1), [&] { return (hBox = FindBox()) != nullptr; }))
            return Out("box none", false);
        DismissBox(hBox);
        return true;
    }
    if (op == "acp" || g_hMain != nullptr) {
        std::string value;
        if (Read(op, num(1), value))
            return Out(op + (nParts > 1 ? " " + a[1] : "") + " " + value);
    }
    if (g_hMain == nullptr)
        return Out("no window for " + op, false);
    HWND h = GetDlgItem(g_hMain, num(1));
    DWORD_PTR r = 0;
    if (op == "wait" || op == "seen") {
        std::string value;
        bool bOk = WaitUntil(
            num(4) > 0 ? num(4) : 10000, [&] { return Read(a[1], num(2), value) && value == a[3]; },
            op == "seen" ? 0 : 5);
        return Out(step + (bOk ? " ok" : " timeout, shows " + value), bOk);
    }
    if (op == "wait-rate") {
        // "<name>：<n>MB/s": the number after the full-width colon.
        std::wstring last;
        bool bOk = WaitUntil(num(2), [&] {
            size_t pos = (last = PaneText(num(1))).find(L'\uff1a');
            return pos != std::wstring::npos && wcstod(last.c_str() + pos + 1, nullptr) > 0.0;
        });
        return Out(step + (bOk ? " ok " : " timeout ") + Utf8(last), bOk);
    }
    if (op == "set") {
        std::wstring text = Wide(a[2]);
        SendMessageTimeoutW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                            SMTO_ABORTIFHUNG, 5000, &r);
        return true;
    }
    if (op == "click")
        return PostMessageW(h, BM_CLICK, 0, 0), true;
    if (op == "key") {
        PostMessageW(h, WM_KEYDOWN, static_cast<WPARAM>(num(2)), 1);
        PostMessageW(h, WM_KEYUP, static_cast<WPARAM>(num(2)), 0xC0000001);
        // Let the window take both from its queue before the next step looks.
        SendMessageTimeoutW(g_hMain, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
        Sleep(200);
        SendMessageTimeoutW(g_hMain, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
        return true;
    }
    if (op == "boxes") {
        int nCount = 0;
        WaitUntil(
            num(1),
            [&] {
                if (HWND hBox = FindBox()) {
                    DismissBox(hBox);
                    ++nCount;
                }
                return false;
            },
            20);
        return Out("boxes " + std::to_string(nCount));
    }
    if (op == "close")
        return PostMessageW(g_hMain, WM_SYSCOMMAND, SC_CLOSE, 0), true;
    if (op == "gone") {
        bool bOk = WaitUntil(num(1), [] { return !IsWindow(g_hMain); });
        return Out(bOk ? "gone" : "still there", bOk);
    }
    return Out("unknown step " + op, false);
}

} // namespace

int main() {
    // The arguments arrive as UTF-16 whatever the code page is.
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; i < argc; ++i) {
        if (!Step(Utf8(argv[i])))
            return Out("failed at " + Utf8(argv[i]), false), 1;
    }
    return 0;
}

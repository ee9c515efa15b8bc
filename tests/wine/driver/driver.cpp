// A second Win32 program that drives tachyra.exe as a user would: it finds the window
// and its controls, types, clicks, reads captions, enabled states and status panes, and
// reads and dismisses message boxes. Each argument is one step; results go to standard
// output as UTF-8 lines. The exit code is 0 when every step succeeded.
//
// Steps (ids are control ids, times in milliseconds):
//   wait-window:MS          find the main window by its caption
//   caption                 "caption <text>"
//   text:ID                 "text ID <text>"
//   enabled:ID              "enabled ID 0|1"
//   pane:N                  "pane N <text>"
//   set:ID:TEXT             replace an edit box's text
//   click:ID                click a button (posted, as a mouse click would be)
//   key:ID:VK               key press (down and up) with the focus in control ID
//   wait-text:ID:TEXT:MS    until the control shows TEXT
//   seen-text:ID:TEXT:MS    until the control has shown TEXT (caption changes recorded)
//   wait-enabled:ID:0|1:MS  until the control's enabled state is as given
//   wait-pane-rate:N:MS     until pane N shows more than 0.00MB/s
//   box:MS                  wait for a message box of the program (of any program before
//                           wait-window), print and dismiss it
//   boxes:MS                dismiss every box that shows up within MS; "boxes <count>"
//   close                   system menu Close
//   gone:MS                 until the main window has gone
//   reg-get:NAME            "reg NAME dword|sz <value>" or "reg NAME missing"
//   reg-set-sz:NAME:TEXT, reg-set-dword:NAME:N, reg-clear
//   acp                     "acp <code page>"
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
    if (s.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string r(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &r[0], n, nullptr,
                        nullptr);
    return r;
}

std::wstring Wide(const std::string& s) {
    if (s.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring r(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &r[0], n);
    return r;
}

void Out(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::vector<std::string> Split(const std::string& s, size_t nMax) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (parts.size() + 1 < nMax) {
        size_t pos = s.find(':', start);
        if (pos == std::string::npos)
            break;
        parts.push_back(s.substr(start, pos - start));
        start = pos + 1;
    }
    parts.push_back(s.substr(start));
    return parts;
}

std::wstring TextOf(HWND hWnd) {
    wchar_t buf[1024] = {0};
    DWORD_PTR nResult = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf),
                             SMTO_ABORTIFHUNG, 5000, &nResult))
        return L"<no answer>";
    return buf;
}

HWND Control(int nId) {
    return GetDlgItem(g_hMain, nId);
}

std::wstring PaneText(int nPart) {
    HWND hBar = Control(0xE801);
    if (hBar == nullptr)
        return L"<no status bar>";
    HANDLE hProcess =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, g_dwPid);
    if (hProcess == nullptr)
        return L"<no process>";
    const SIZE_T nBytes = 1024 * sizeof(wchar_t);
    void* pRemote = VirtualAllocEx(hProcess, nullptr, nBytes, MEM_COMMIT, PAGE_READWRITE);
    std::wstring result;
    if (pRemote != nullptr) {
        DWORD_PTR nResult = 0;
        SendMessageTimeoutW(hBar, SB_GETTEXTW, static_cast<WPARAM>(nPart),
                            reinterpret_cast<LPARAM>(pRemote), SMTO_ABORTIFHUNG, 5000, &nResult);
        wchar_t buf[1024] = {0};
        SIZE_T nRead = 0;
        if (ReadProcessMemory(hProcess, pRemote, buf, nBytes - sizeof(wchar_t), &nRead))
            result = buf;
        VirtualFreeEx(hProcess, pRemote, 0, MEM_RELEASE);
    }
    CloseHandle(hProcess);
    return result;
}

// A message box of the program: a dialog of its process that is not the main window and
// has the static text control 0xFFFF.
struct BoxSearch {
    HWND hBox;
};

BOOL CALLBACK FindBoxProc(HWND hWnd, LPARAM lParam) {
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    // Without a main window (the fatal stop comes before it), any process's box counts.
    if ((g_hMain != nullptr && dwPid != g_dwPid) || hWnd == g_hMain || !IsWindowVisible(hWnd))
        return TRUE;
    wchar_t szClass[64] = {0};
    GetClassNameW(hWnd, szClass, 64);
    if (lstrcmpW(szClass, L"#32770") != 0 || GetDlgItem(hWnd, 0xFFFF) == nullptr)
        return TRUE;
    reinterpret_cast<BoxSearch*>(lParam)->hBox = hWnd;
    return FALSE;
}

HWND FindBox() {
    BoxSearch search{nullptr};
    EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&search));
    return search.hBox;
}

bool HasIcon(HWND hBox) {
    for (int nId : {0x14, 0x440}) {
        HWND hIcon = GetDlgItem(hBox, nId);
        if (hIcon != nullptr && IsWindowVisible(hIcon) &&
            SendMessageW(hIcon, STM_GETICON, 0, 0) != 0)
            return true;
    }
    return false;
}

// Prints "box <caption> | <text> | icon|plain" and presses its OK button. A box with an
// icon has a static icon control: id 0x14 on Windows, 0x440 under Wine.
void DismissBox(HWND hBox) {
    Out("box " + Utf8(TextOf(hBox)) + " | " + Utf8(TextOf(GetDlgItem(hBox, 0xFFFF))) + " | " +
        (HasIcon(hBox) ? "icon" : "plain"));
    HWND hOk = GetDlgItem(hBox, IDOK);
    if (hOk == nullptr)
        hOk = GetDlgItem(hBox, IDCANCEL);
    PostMessageW(hBox, WM_COMMAND,
                 MAKEWPARAM(hOk != nullptr ? GetDlgCtrlID(hOk) : IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(hOk));
    for (int i = 0; i < 500 && IsWindow(hBox); ++i)
        Sleep(10);
}

template <class Pred> bool WaitUntil(int nMs, Pred pred) {
    DWORD tEnd = GetTickCount() + static_cast<DWORD>(nMs);
    for (;;) {
        if (pred())
            return true;
        if (static_cast<int>(GetTickCount() - tEnd) >= 0)
            return false;
        Sleep(5);
    }
}

double RateOf(const std::wstring& strPane) {
    // "<name>：<n>MB/s": the number after the full-width colon.
    size_t pos = strPane.find(L'\uff1a');
    if (pos == std::wstring::npos)
        return -1;
    return wcstod(strPane.c_str() + pos + 1, nullptr);
}

bool Step(const std::string& step) {
    std::vector<std::string> a = Split(step, 4);
    const std::string& op = a[0];
    auto arg = [&](size_t i) { return i < a.size() ? a[i] : std::string(); };
    auto num = [&](size_t i) { return std::atoi(arg(i).c_str()); };

    if (op == "wait-window") {
        bool ok = WaitUntil(num(1), [] {
            g_hMain = FindWindowW(L"#32770", kCaption);
            return g_hMain != nullptr && IsWindowVisible(g_hMain);
        });
        if (ok)
            GetWindowThreadProcessId(g_hMain, &g_dwPid);
        Out(ok ? "window found" : "window not found");
        return ok;
    }
    if (op == "acp") {
        Out("acp " + std::to_string(GetACP()));
        return true;
    }
    if (op == "reg-get" || op == "reg-set-sz" || op == "reg-set-dword" || op == "reg-clear") {
        if (op == "reg-clear") {
            RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
            return true;
        }
        HKEY hKey = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &hKey, nullptr) != ERROR_SUCCESS) {
            Out("reg cannot open");
            return false;
        }
        std::wstring name = Wide(arg(1));
        bool ok = true;
        if (op == "reg-set-sz") {
            std::wstring value = Wide(arg(2));
            ok = RegSetValueExW(hKey, name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * 2)) == ERROR_SUCCESS;
        } else if (op == "reg-set-dword") {
            DWORD v = static_cast<DWORD>(num(2));
            ok = RegSetValueExW(hKey, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) ==
                 ERROR_SUCCESS;
        } else {
            BYTE data[2048] = {0};
            DWORD cb = sizeof(data) - 2;
            DWORD type = 0;
            if (RegQueryValueExW(hKey, name.c_str(), nullptr, &type, data, &cb) != ERROR_SUCCESS)
                Out("reg " + arg(1) + " missing");
            else if (type == REG_DWORD)
                Out("reg " + arg(1) + " dword " +
                    std::to_string(static_cast<int>(*reinterpret_cast<DWORD*>(data))));
            else if (type == REG_SZ)
                Out("reg " + arg(1) + " sz " + Utf8(reinterpret_cast<wchar_t*>(data)));
            else
                Out("reg " + arg(1) + " type " + std::to_string(type));
        }
        RegCloseKey(hKey);
        return ok;
    }
    if (op == "box") {
        HWND hBox = nullptr;
        bool ok = WaitUntil(num(1), [&] { return (hBox = FindBox()) != nullptr; });
        if (!ok) {
            Out("box none");
            return false;
        }
        DismissBox(hBox);
        return true;
    }
    if (g_hMain == nullptr) {
        Out("no window for " + op);
        return false;
    }
    if (op == "caption") {
        Out("caption " + Utf8(TextOf(g_hMain)));
        return true;
    }
    if (op == "text") {
        Out("text " + arg(1) + " " + Utf8(TextOf(Control(num(1)))));
        return true;
    }
    if (op == "enabled") {
        Out("enabled " + arg(1) + " " + (IsWindowEnabled(Control(num(1))) ? "1" : "0"));
        return true;
    }
    if (op == "pane") {
        Out("pane " + arg(1) + " " + Utf8(PaneText(num(1))));
        return true;
    }
    if (op == "set") {
        std::wstring text = Wide(arg(2));
        DWORD_PTR r = 0;
        SendMessageTimeoutW(Control(num(1)), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                            SMTO_ABORTIFHUNG, 5000, &r);
        return true;
    }
    if (op == "click") {
        PostMessageW(Control(num(1)), BM_CLICK, 0, 0);
        return true;
    }
    if (op == "key") {
        HWND h = Control(num(1));
        UINT vk = static_cast<UINT>(num(2));
        PostMessageW(h, WM_KEYDOWN, vk, 1);
        PostMessageW(h, WM_KEYUP, vk, 0xC0000001);
        // Let the window take both from its queue before the next step looks.
        DWORD_PTR r = 0;
        SendMessageTimeoutW(g_hMain, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
        Sleep(200);
        SendMessageTimeoutW(g_hMain, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
        return true;
    }
    if (op == "seen-text") {
        // Polls without pausing, to catch a caption that shows only briefly.
        std::wstring want = Wide(arg(2));
        HWND h = Control(num(1));
        DWORD tEnd = GetTickCount() + static_cast<DWORD>(num(3) > 0 ? num(3) : 10000);
        bool ok = false;
        while (!ok && static_cast<int>(GetTickCount() - tEnd) < 0)
            ok = TextOf(h) == want;
        Out(op + " " + arg(1) + " " + (ok ? "ok" : "timeout, shows " + Utf8(TextOf(h))));
        return ok;
    }
    if (op == "wait-text") {
        std::wstring want = Wide(arg(2));
        HWND h = Control(num(1));
        bool ok = WaitUntil(num(3) > 0 ? num(3) : 10000, [&] { return TextOf(h) == want; });
        Out(op + " " + arg(1) + " " + (ok ? "ok" : "timeout, shows " + Utf8(TextOf(h))));
        return ok;
    }
    if (op == "wait-enabled") {
        HWND h = Control(num(1));
        bool want = num(2) != 0;
        bool ok = WaitUntil(num(3) > 0 ? num(3) : 10000,
                            [&] { return (IsWindowEnabled(h) != FALSE) == want; });
        Out("wait-enabled " + arg(1) + " " + (ok ? "ok" : "timeout"));
        return ok;
    }
    if (op == "wait-pane-rate") {
        std::wstring last;
        bool ok = WaitUntil(num(2) > 0 ? num(2) : 10000, [&] {
            last = PaneText(num(1));
            return RateOf(last) > 0.0;
        });
        Out("pane-rate " + arg(1) + " " + (ok ? "ok " : "timeout ") + Utf8(last));
        return ok;
    }
    if (op == "boxes") {
        int nCount = 0;
        DWORD tEnd = GetTickCount() + static_cast<DWORD>(num(1));
        while (static_cast<int>(GetTickCount() - tEnd) < 0) {
            if (HWND hBox = FindBox()) {
                DismissBox(hBox);
                ++nCount;
            }
            Sleep(20);
        }
        Out("boxes " + std::to_string(nCount));
        return true;
    }
    if (op == "close") {
        PostMessageW(g_hMain, WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;
    }
    if (op == "gone") {
        bool ok = WaitUntil(num(1), [] { return !IsWindow(g_hMain); });
        Out(ok ? "gone" : "still there");
        return ok;
    }
    if (op == "exists") {
        Out(IsWindow(g_hMain) && IsWindowVisible(g_hMain) ? "exists 1" : "exists 0");
        return true;
    }
    Out("unknown step " + op);
    return false;
}

} // namespace

int main() {
    // The arguments arrive as UTF-16 whatever the code page is.
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; i < argc; ++i) {
        std::string step = Utf8(argv[i]);
        if (!Step(step)) {
            Out("failed at " + step);
            return 1;
        }
    }
    return 0;
}

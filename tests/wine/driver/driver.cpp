// A second Win32 program that drives tachyra.exe as a user would. Each argument is a step;
// results go to stdout as UTF-8 lines; exit code 0 when every step succeeded. IDs are
// control ids, times milliseconds.
//   wait-window:MS, gone:MS   until the main window is found by its caption / has gone
//   caption, acp, focus, text:ID, enabled:ID, pane:N   print "<what> [ID] <value>"
//   wait:WHAT:ID:VALUE:MS until that read shows VALUE; wait-rate:N:MS until pane N > 0MB/s
//   set:ID:TEXT, click:ID (posted, as a mouse click), key:ID:VK, close (system menu)
//   box:MS    print "box <caption> | <text> | icon|plain" of the next message box (of any
//             program before wait-window) and press OK; boxes:MS the same for every box that
//             shows up within MS, then print "boxes <count>" and fail unless it is 0
//   reg-get:NAME ("reg NAME dword|sz <value>"), reg-set:NAME:TEXT (a dword for m_n names),
//   reg-clear: the settings
// A step with a space is a check: the read it names (box waits 30 s) must print exactly it,
// where one "*" stands for any text: "text 1000 <value>", "box <caption> | <text> | icon".
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using std::wstring;

const wchar_t* const kCaption = L"Tachyra - v18.0701";
const wchar_t* const kSettingsKey =
    L"Software\\\u5e94\u7528\u7a0b\u5e8f\u5411\u5bfc\u751f\u6210\u7684\u672c\u5730\u5e94\u7528"
    L"\u7a0b\u5e8f\\tachyra\\Kestrun";

HWND g_hMain = nullptr;
DWORD g_dwPid = 0;
wstring g_strLast; // the line printed last

// Prints the line as UTF-8.
bool Out(const wstring& line, bool bOk = true) {
    std::string utf8((g_strLast = line).size() * 3 + 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()),
                        nullptr, nullptr);
    std::printf("%s\n", utf8.c_str());
    std::fflush(stdout);
    return bOk;
}

template <class Pred> bool WaitUntil(int nMs, Pred pred) {
    for (DWORD tEnd = GetTickCount() + static_cast<DWORD>(nMs); !pred(); Sleep(5)) {
        if (static_cast<int>(GetTickCount() - tEnd) >= 0)
            return false;
    }
    return true;
}

wstring TextOf(HWND hWnd) {
    wchar_t buf[1024] = {0};
    SendMessageW(hWnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
    return buf;
}

// A status bar keeps its texts in its own process: the buffer has to live there too.
wstring PaneText(int nPart) {
    HANDLE hProc =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, g_dwPid);
    wchar_t buf[1024] = {0};
    if (void* pRemote = VirtualAllocEx(hProc, nullptr, sizeof(buf), MEM_COMMIT, PAGE_READWRITE)) {
        SendMessageW(GetDlgItem(g_hMain, 0xE801), SB_GETTEXTW, static_cast<WPARAM>(nPart),
                     reinterpret_cast<LPARAM>(pRemote));
        ReadProcessMemory(hProc, pRemote, buf, sizeof(buf) - sizeof(wchar_t), nullptr);
        VirtualFreeEx(hProc, pRemote, 0, MEM_RELEASE);
    }
    CloseHandle(hProc);
    return buf;
}

// A message box of the program: a visible dialog of its process, not the main window,
// with the static text control 0xFFFF. Before the main window exists (the fatal stop
// comes before it) any process's box counts.
HWND FindBox() {
    for (HWND h = nullptr; (h = FindWindowExW(nullptr, h, L"#32770", nullptr)) != nullptr;) {
        DWORD dwPid = 0;
        GetWindowThreadProcessId(h, &dwPid);
        if (h != g_hMain && (g_hMain == nullptr || dwPid == g_dwPid) && IsWindowVisible(h) &&
            GetDlgItem(h, 0xFFFF) != nullptr)
            return h;
    }
    return nullptr;
}

// Prints the box and presses OK. A box with an icon has a static icon control: id 0x14 on
// Windows, 0x440 under Wine.
void DismissBox(HWND hBox) {
    bool bIcon = false;
    for (int nId : {0x14, 0x440})
        bIcon = bIcon || (IsWindowVisible(GetDlgItem(hBox, nId)) &&
                          SendDlgItemMessageW(hBox, nId, STM_GETICON, 0, 0) != 0);
    Out(L"box " + TextOf(hBox) + L" | " + TextOf(GetDlgItem(hBox, 0xFFFF)) + L" | " +
        (bIcon ? L"icon" : L"plain"));
    PostMessageW(hBox, WM_COMMAND, IDOK, 0);
    WaitUntil(5000, [&] { return !IsWindow(hBox); });
}

// The value of a read step; false for a step that is not one.
bool Read(const wstring& what, int nId, wstring& value) {
    HWND h = GetDlgItem(g_hMain, nId);
    if (what == L"acp")
        value = std::to_wstring(GetACP());
    else if (what == L"caption")
        value = TextOf(g_hMain);
    else if (GUITHREADINFO gui{}; what == L"focus") // the control with the input focus
        value = (gui.cbSize = sizeof(gui),
                 GetGUIThreadInfo(GetWindowThreadProcessId(g_hMain, nullptr), &gui))
                    ? std::to_wstring(GetDlgCtrlID(gui.hwndFocus))
                    : L"none";
    else if (what == L"text")
        value = TextOf(h);
    else if (what == L"enabled")
        value = IsWindowEnabled(h) ? L"1" : L"0";
    else if (what == L"pane")
        value = PaneText(nId);
    else
        return false;
    return true;
}

bool Registry(const std::vector<wstring>& a) {
    if (a[0] == L"reg-clear")
        return RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey), true;
    HKEY hKey = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                    nullptr);
    BYTE data[2048] = {0};
    DWORD cb = sizeof(data) - 2, type = 0;
    bool bOk = true;
    const DWORD dwValue = static_cast<DWORD>(_wtoi(a[2].c_str()));
    if (a[0] == L"reg-set" && a[1].compare(0, 3, L"m_n") == 0)
        bOk = RegSetValueExW(hKey, a[1].c_str(), 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&dwValue), 4) == ERROR_SUCCESS;
    else if (a[0] == L"reg-set")
        bOk = RegSetValueExW(hKey, a[1].c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(a[2].c_str()),
                             static_cast<DWORD>((a[2].size() + 1) * 2)) == ERROR_SUCCESS;
    else if (RegQueryValueExW(hKey, a[1].c_str(), nullptr, &type, data, &cb) != ERROR_SUCCESS)
        Out(L"reg " + a[1] + L" missing");
    else
        Out(L"reg " + a[1] +
            (type == REG_DWORD ? L" dword " + std::to_wstring(*reinterpret_cast<int*>(data))
             : type == REG_SZ  ? L" sz " + wstring(reinterpret_cast<wchar_t*>(data))
                               : L" type " + std::to_wstring(type)));
    RegCloseKey(hKey);
    return bOk;
}

bool Step(const wstring& step) {
    if (size_t n = step.find(' '); n != wstring::npos) {
        const wstring what = step.substr(0, n),
                      arg = step.substr(n + 1, step.find(' ', n + 1) - n - 1);
        wstring read = what == L"box" ? L"box:30000" : what == L"reg" ? L"reg-get:" + arg : what;
        if (what == L"text" || what == L"enabled" || what == L"pane")
            read += L":" + arg;
        // A "*" stands for any text: what is read must begin and end as the step does.
        const size_t nStar = step.find(L'*');
        const wstring head = step.substr(0, nStar),
                      tail = nStar == wstring::npos ? L"" : step.substr(nStar + 1);
        const auto matches = [&](const wstring& got) {
            return nStar == wstring::npos
                       ? got == step
                       : got.size() >= head.size() + tail.size() &&
                             got.compare(0, head.size(), head) == 0 &&
                             got.compare(got.size() - tail.size(), tail.size(), tail) == 0;
        };
        return (Step(read) && matches(g_strLast)) || Out(L"expected " + step, false);
    }
    std::vector<wstring> a;
    for (size_t start = 0, pos = 0; pos != wstring::npos; start = pos + 1) {
        pos = a.size() < 4 ? step.find(':', start) : wstring::npos;
        a.push_back(step.substr(start, pos - start));
    }
    a.resize(5);
    const wstring& op = a[0];
    auto num = [&](size_t i) { return _wtoi(a[i].c_str()); };
    wstring value;

    if (op.compare(0, 4, L"reg-") == 0)
        return Registry(a);
    if (op == L"wait-window") {
        bool bOk = WaitUntil(num(1), [] {
            g_hMain = FindWindowW(L"#32770", kCaption);
            return g_hMain != nullptr && IsWindowVisible(g_hMain);
        });
        GetWindowThreadProcessId(g_hMain, &g_dwPid);
        return Out(bOk ? L"window found" : L"window not found", bOk);
    }
    if (op == L"box") {
        HWND hBox = nullptr;
        if (!WaitUntil(num(1), [&] { return (hBox = FindBox()) != nullptr; }))
            return Out(L"box none", false);
        return DismissBox(hBox), true;
    }
    if (Read(op, num(1), value))
        return Out(op + (a[1].empty() ? L"" : L" " + a[1]) + L" " + value);
    HWND h = GetDlgItem(g_hMain, num(1));
    if (op == L"wait") {
        bool bOk = WaitUntil(num(4) > 0 ? num(4) : 10000,
                             [&] { return Read(a[1], num(2), value) && value == a[3]; });
        return Out(step + (bOk ? L" ok" : L" timeout, shows " + value), bOk);
    }
    if (op == L"wait-rate") {
        // "<name>：<n>MB/s": the number after the full-width colon.
        bool bOk = WaitUntil(num(2), [&] {
            size_t pos = (value = PaneText(num(1))).find(L'\uff1a');
            return pos != wstring::npos && wcstod(value.c_str() + pos + 1, nullptr) > 0.0;
        });
        return Out(step + (bOk ? L" ok " : L" timeout ") + value, bOk);
    }
    if (op == L"set")
        return SendMessageW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[2].c_str())), true;
    if (op == L"click")
        return PostMessageW(h, BM_CLICK, 0, 0), true;
    if (op == L"key") {
        PostMessageW(h, WM_KEYDOWN, static_cast<WPARAM>(num(2)), 1);
        PostMessageW(h, WM_KEYUP, static_cast<WPARAM>(num(2)), 0xC0000001);
        // Let the window take both from its queue before the next step looks.
        for (int i = 0; i < 2; ++i, Sleep(200))
            SendMessageW(g_hMain, WM_NULL, 0, 0);
        return true;
    }
    if (op == L"boxes") {
        int nCount = 0;
        WaitUntil(num(1), [&] {
            if (HWND hBox = FindBox())
                DismissBox(hBox), ++nCount;
            return false;
        });
        return Out(L"boxes " + std::to_wstring(nCount), nCount == 0);
    }
    if (op == L"close")
        return PostMessageW(g_hMain, WM_SYSCOMMAND, SC_CLOSE, 0), true;
    if (op == L"gone") {
        bool bOk = WaitUntil(num(1), [] { return !IsWindow(g_hMain); });
        return Out(bOk ? L"gone" : L"still there", bOk);
    }
    return Out(L"unknown step " + op, false);
}

} // namespace

int main() {
    // The arguments arrive as UTF-16 whatever the code page is.
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; i < argc; ++i) {
        if (!Step(argv[i]))
            return Out(L"failed at " + wstring(argv[i]), false), 1;
    }
    return 0;
}

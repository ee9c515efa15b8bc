// A second Win32 program that drives tachyra.exe as a user would: it prints "listening
// <port>" and answers requests on one loopback connection as the GTK program's test control
// channel does (one reply line "ok <text>", with \n, \t and \\ escaped, or "err <why>").
//   window (1 once the main window is found), caption, focus, acp, text ID, enabled ID,
//   pane N; settext ID TEXT, click ID (posted, as a mouse click), key ID VK, close
//   dialogs, dialog 0 (icon|plain, caption, text, "modal", "visible"), answer 0 (OK): the
//   message boxes of tachyra, or of any program before its window is found
//   reg NAME ("dword N", "sz TEXT" or "missing"), regset NAME TEXT, regclear: the settings
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using std::string;
using std::wstring;

const wchar_t* const kCaption = L"Tachyra - v18.0701";
const wchar_t* const kSettingsKey =
    L"Software\\\u5e94\u7528\u7a0b\u5e8f\u5411\u5bfc\u751f\u6210\u7684\u672c\u5730\u5e94\u7528"
    L"\u7a0b\u5e8f\\tachyra\\Kestrun";

HWND g_hMain = nullptr;
DWORD g_dwPid = 0;

wstring Wide(const string& str) {
    wstring w(str.size(), L'\0');
    w.resize(MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), w.data(),
                                 static_cast<int>(w.size())));
    return w;
}

string Utf8(const wstring& w) {
    string str(w.size() * 3, '\0');
    str.resize(WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), str.data(),
                                   static_cast<int>(str.size()), nullptr, nullptr));
    return str;
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

// The message boxes: visible dialogs with the static text control 0xFFFF, other than the
// main window, of its process once it is found.
std::vector<HWND> Boxes() {
    std::vector<HWND> vec;
    for (HWND h = nullptr; (h = FindWindowExW(nullptr, h, L"#32770", nullptr)) != nullptr;) {
        DWORD dwPid = 0;
        GetWindowThreadProcessId(h, &dwPid);
        if (h != g_hMain && (g_hMain == nullptr || dwPid == g_dwPid) && IsWindowVisible(h) &&
            GetDlgItem(h, 0xFFFF) != nullptr)
            vec.push_back(h);
    }
    return vec;
}

// A box with an icon has a static icon control: id 0x14 on Windows, 0x440 under Wine.
wstring Box(HWND hBox) {
    bool bIcon = false;
    for (int nId : {0x14, 0x440})
        bIcon = bIcon || (IsWindowVisible(GetDlgItem(hBox, nId)) &&
                          SendDlgItemMessageW(hBox, nId, STM_GETICON, 0, 0) != 0);
    return (bIcon ? L"icon\t" : L"plain\t") + TextOf(hBox) + L"\t" +
           TextOf(GetDlgItem(hBox, 0xFFFF)) + L"\tmodal\tvisible";
}

// The reply to reg, regset and regclear; m_n names are dwords.
wstring Registry(const string& strRequest, const wstring& name, const wstring& value) {
    const DWORD dwValue = static_cast<DWORD>(_wtoi(value.c_str()));
    const bool bDword = name.compare(0, 3, L"m_n") == 0;
    BYTE data[2048] = {0};
    DWORD cb = sizeof(data) - 2, type = 0;
    if (strRequest == "regclear")
        return RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey), L"";
    if (strRequest == "regset")
        return RegSetKeyValueW(
                   HKEY_CURRENT_USER, kSettingsKey, name.c_str(), bDword ? REG_DWORD : REG_SZ,
                   bDword ? static_cast<const void*>(&dwValue) : value.c_str(),
                   bDword ? 4 : static_cast<DWORD>((value.size() + 1) * 2)) == ERROR_SUCCESS
                   ? L""
                   : L"not set";
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name.c_str(), RRF_RT_ANY, &type, data, &cb) !=
        ERROR_SUCCESS)
        return L"missing";
    return type == REG_DWORD ? L"dword " + std::to_wstring(*reinterpret_cast<int*>(data))
           : type == REG_SZ  ? L"sz " + wstring(reinterpret_cast<wchar_t*>(data))
                             : L"type " + std::to_wstring(type);
}

// The reply to a request: its name, then an id and the rest.
string Reply(const string& strLine) {
    const size_t nSpace = strLine.find(' '), nRest = strLine.find(' ', nSpace + 1);
    const string strRequest = strLine.substr(0, nSpace);
    const string strId =
        nSpace == string::npos ? "" : strLine.substr(nSpace + 1, nRest - nSpace - 1);
    const wstring rest = nRest == string::npos ? L"" : Wide(strLine.substr(nRest + 1));
    HWND h = GetDlgItem(g_hMain, std::atoi(strId.c_str()));
    const std::vector<HWND> boxes = Boxes();
    wstring value;
    if (strRequest.compare(0, 3, "reg") == 0) {
        value = Registry(strRequest, Wide(strId), rest);
    } else if (strRequest == "window") {
        g_hMain = FindWindowW(L"#32770", kCaption);
        GetWindowThreadProcessId(g_hMain, &g_dwPid);
        value = g_hMain != nullptr && IsWindowVisible(g_hMain) ? L"1" : L"0";
    } else if (strRequest == "caption") {
        value = TextOf(g_hMain);
    } else if (GUITHREADINFO gui{}; strRequest == "focus") { // the control with the input focus
        gui.cbSize = sizeof(gui);
        value = GetGUIThreadInfo(GetWindowThreadProcessId(g_hMain, nullptr), &gui)
                    ? std::to_wstring(GetDlgCtrlID(gui.hwndFocus))
                    : L"none";
    } else if (strRequest == "text") {
        value = TextOf(h);
    } else if (strRequest == "enabled") {
        value = IsWindowEnabled(h) ? L"1" : L"0";
    } else if (strRequest == "pane") {
        value = PaneText(std::atoi(strId.c_str()));
    } else if (strRequest == "acp") {
        value = std::to_wstring(GetACP());
    } else if (strRequest == "settext") {
        SendMessageW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(rest.c_str()));
    } else if (strRequest == "click") { // nothing happens on a disabled button
        value = IsWindowEnabled(h) ? (PostMessageW(h, BM_CLICK, 0, 0), L"clicked") : L"disabled";
    } else if (strRequest == "key") {
        PostMessageW(h, WM_KEYDOWN, static_cast<WPARAM>(_wtoi(rest.c_str())), 1);
        PostMessageW(h, WM_KEYUP, static_cast<WPARAM>(_wtoi(rest.c_str())), 0xC0000001);
        // Let the window take both from its queue before the next request looks.
        for (int i = 0; i < 2; ++i, Sleep(200))
            SendMessageW(g_hMain, WM_NULL, 0, 0);
    } else if (strRequest == "close") {
        PostMessageW(g_hMain, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (strRequest == "dialogs") {
        value = std::to_wstring(boxes.size());
    } else if (boxes.empty() && (strRequest == "dialog" || strRequest == "answer")) {
        return "err no such dialog";
    } else if (strRequest == "dialog") {
        value = Box(boxes[0]);
    } else if (strRequest == "answer") {
        PostMessageW(boxes[0], WM_COMMAND, IDOK, 0);
        for (int i = 0; i < 1000 && IsWindow(boxes[0]); ++i)
            Sleep(5);
    } else {
        return "err unknown request";
    }
    string strReply = "ok ";
    for (char ch : Utf8(value))
        strReply += ch == '\n' ? "\\n" : ch == '\t' ? "\\t" : ch == '\\' ? "\\\\" : string(1, ch);
    return strReply;
}

} // namespace

int main() {
    WSADATA wsa;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int nLen = sizeof(addr);
    SOCKET listener = INVALID_SOCKET;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0 ||
        (listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &nLen) != 0)
        return 1;
    std::printf("listening %d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    const SOCKET channel = accept(listener, nullptr, nullptr);
    string strLine;
    for (char ch; recv(channel, &ch, 1, 0) == 1;) {
        if (ch != '\n') {
            strLine += ch;
            continue;
        }
        const string strReply = Reply(strLine) + "\n";
        send(channel, strReply.data(), static_cast<int>(strReply.size()), 0);
        strLine.clear();
    }
    return 0;
}

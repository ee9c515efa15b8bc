// Win32 backend of the dialog framework. Every text crosses into the window system as
// UTF-16 converted from the program's code page, so the window reads correctly on any
// system locale.
#include "framework/win32/win32_window_system.h"

#include "support/system_info.h"
#include "support/text_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <vector>

namespace {

// Cuts a converted text to at most nMaxBytes bytes.
std::string CutBytes(std::string strText, size_t nMaxBytes) {
    if (strText.size() > nMaxBytes)
        strText.resize(nMaxBytes);
    return strText;
}

std::string WindowTextOf(HWND hWnd) {
    if (hWnd == nullptr)
        return std::string();
    int nLen = ::GetWindowTextLengthW(hWnd);
    std::vector<wchar_t> buffer(static_cast<size_t>(nLen) + 1, L'\0');
    int nCopied = ::GetWindowTextW(hWnd, buffer.data(), nLen + 1);
    return ProgramTextFromWide(buffer.data(), nCopied);
}

} // namespace

CWin32WindowSystem::CWin32WindowSystem(HINSTANCE hInstance, CVXDialog* pDialog, HICON hIcon)
    : m_hInstance(hInstance), m_pDialog(pDialog), m_hIcon(hIcon) {
    m_pDialog->AttachWindowSystem(this);
}

CWin32WindowSystem::~CWin32WindowSystem() {
    m_pDialog->OnWindowSystemDetaching();
    m_pDialog->AttachWindowSystem(nullptr);
    if (m_hWnd != nullptr)
        ::DestroyWindow(m_hWnd);
}

INT_PTR CWin32WindowSystem::RunModal(HWND hParent) {
    m_hWnd = ::CreateDialogParamW(m_hInstance, MAKEINTRESOURCEW(m_pDialog->TemplateId()), hParent,
                                  &CWin32WindowSystem::DialogProc, reinterpret_cast<LPARAM>(this));
    if (m_hWnd == nullptr)
        return -1;
    SetFatalStopMainWindow(m_hWnd);
    if (hParent != nullptr)
        ::EnableWindow(hParent, FALSE);
    ::ShowWindow(m_hWnd, SW_SHOW);
    // DialogBox's own loop would never show us the messages the keyboard rules need.
    MSG msg;
    while (!m_bEnded) {
        BOOL bGot = ::GetMessageW(&msg, nullptr, 0, 0);
        if (bGot == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (bGot < 0)
            break;
        if (PreTranslateMessage(&msg))
            continue;
        if (::IsDialogMessageW(m_hWnd, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (hParent != nullptr)
        ::EnableWindow(hParent, TRUE);
    if (m_hWnd != nullptr)
        ::DestroyWindow(m_hWnd);
    return m_nResult;
}

void CWin32WindowSystem::EndModal(INT_PTR nResult) {
    m_nResult = nResult;
    m_bEnded = true;
    ::PostMessageW(m_hWnd, WM_NULL, 0, 0); // wakes the loop
}

bool CWin32WindowSystem::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_TIMER && pMsg->hwnd == m_hWnd && pMsg->wParam == IDT_VX_STATUS)
        return true;
    if (m_hToolTip != nullptr && pMsg->message == WM_MOUSEMOVE)
        ::SendMessageW(m_hToolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(pMsg));
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN))
        return true;
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == 'A' && (::GetKeyState(VK_CONTROL) < 0) &&
        ::GetKeyState(VK_SHIFT) >= 0 && ::GetKeyState(VK_MENU) >= 0) {
        HWND hFocus = ::GetFocus();
        if (hFocus == nullptr)
            return false;
        wchar_t szClass[1025] = {0};
        ::GetClassNameW(hFocus, szClass, 1024);
        if (::lstrcmpiW(szClass, L"Edit") == 0) {
            ::SendMessageW(hFocus, EM_SETSEL, 0, -1);
            ::SendMessageW(hFocus, EM_SCROLLCARET, 0, 0);
            return true;
        }
        if (::lstrcmpiW(szClass, WC_LISTVIEWW) == 0) {
            int nCount = static_cast<int>(::SendMessageW(hFocus, LVM_GETITEMCOUNT, 0, 0));
            for (int i = 0; i < nCount; ++i) {
                LVITEMW item{};
                item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
                item.state = LVIS_SELECTED | LVIS_FOCUSED;
                ::SendMessageW(hFocus, LVM_SETITEMSTATE, static_cast<WPARAM>(i),
                               reinterpret_cast<LPARAM>(&item));
            }
            return true;
        }
    }
    return false;
}

INT_PTR CALLBACK CWin32WindowSystem::DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam,
                                                LPARAM lParam) {
    CWin32WindowSystem* pThis = nullptr;
    if (nMsg == WM_INITDIALOG) {
        pThis = reinterpret_cast<CWin32WindowSystem*>(lParam);
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, lParam);
        pThis->m_hWnd = hWnd;
    } else {
        pThis = reinterpret_cast<CWin32WindowSystem*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    }
    if (pThis == nullptr)
        return FALSE;
    return pThis->HandleMessage(nMsg, wParam, lParam);
}

INT_PTR CWin32WindowSystem::HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case WM_INITDIALOG:
        return m_pDialog->OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND: {
        int nId = LOWORD(wParam);
        if (nId == IDCANCEL) {
            if (m_pDialog->OnCancel())
                EndModal(IDCANCEL);
            return TRUE;
        }
        if (nId == IDOK) {
            EndModal(IDOK);
            return TRUE;
        }
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
            m_pDialog->OnCommand(nId);
            return TRUE;
        }
        return FALSE;
    }
    case WM_CLOSE:
        ::SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return TRUE;
    case WM_SYSCOMMAND:
        // The whole id, without masking the low bits, as the menu item was appended.
        if (m_pDialog->OnSysCommand(static_cast<unsigned int>(wParam)))
            return TRUE;
        return FALSE;
    case WM_PAINT:
        if (::IsIconic(m_hWnd)) {
            PaintIconic();
            return TRUE;
        }
        return FALSE;
    case WM_QUERYDRAGICON:
        ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(m_hIcon));
        return TRUE;
    case WM_SIZE:
        Layout(static_cast<int>(wParam));
        return FALSE;
    case WM_DESTROY:
        m_pDialog->OnDestroyBegin();
        DrainQueue();
        return FALSE;
    case WM_NOTIFY: {
        auto* pHeader = reinterpret_cast<NMHDR*>(lParam);
        if (pHeader != nullptr && pHeader->code == TTN_GETDISPINFOW) {
            // The status bar's tool asks for its text: the tip of the pane under the mouse.
            auto* pInfo = reinterpret_cast<NMTTDISPINFOW*>(lParam);
            pInfo->szText[0] = L'\0';
            return TRUE;
        }
        return FALSE;
    }
    default:
        break;
    }
    if (nMsg == WM_VX_COMMAND || nMsg == WM_VX_CALLBACK) {
        intptr_t nResult =
            m_pDialog->WindowProcVX(nMsg, reinterpret_cast<_VX_COMMAND_MSG*>(wParam));
        ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, static_cast<LONG_PTR>(nResult));
        return TRUE;
    }
    return FALSE;
}

void CWin32WindowSystem::DrainQueue() {
    MSG msg;
    while (::PeekMessageW(&msg, m_hWnd, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) {
        if (msg.message >= WM_USER) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

void CWin32WindowSystem::Layout(int nSizeType) {
    (void)nSizeType; // the dialog procedure's default processing follows for real sizes
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    if (m_hStatusBar != nullptr) {
        RECT rcBar;
        ::GetWindowRect(m_hStatusBar, &rcBar);
        int h = rcBar.bottom - rcBar.top;
        ::MoveWindow(m_hStatusBar, rc.left, rc.bottom - h, rc.right - rc.left, h, TRUE);
        ::GetWindowRect(m_hStatusBar, &rcBar);
        rc.bottom -= rcBar.bottom - rcBar.top;
    }
    m_pDialog->LayoutContent(rc.left, rc.top, rc.right, rc.bottom);
}

void CWin32WindowSystem::PaintIconic() {
    PAINTSTRUCT ps;
    HDC hDC = ::BeginPaint(m_hWnd, &ps);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hDC), 0);
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    int x = (rc.right - rc.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (rc.bottom - rc.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    if (m_hIcon != nullptr)
        ::DrawIcon(hDC, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &ps);
}

void CWin32WindowSystem::SetControlText(int nId, const std::string& strText) {
    ::SetDlgItemTextW(m_hWnd, nId, WideFromProgramText(strText).c_str());
}

void CWin32WindowSystem::EnableControl(int nId, bool bEnable) {
    ::EnableWindow(::GetDlgItem(m_hWnd, nId), bEnable ? TRUE : FALSE);
}

void CWin32WindowSystem::ShowMessageBox(const std::string& strText, const std::string& strCaption,
                                        EVXBoxIcon icon) {
    UINT nType = MB_OK;
    if (icon == EVXBoxIcon::Warning)
        nType |= MB_ICONWARNING;
    else if (icon == EVXBoxIcon::Error)
        nType |= MB_ICONERROR;
    // A worker thread's box has no owner: owning a window of another thread would tie
    // the two threads' input together.
    HWND hOwner = m_pDialog->IsUIThread() ? m_hWnd : nullptr;
    if (hOwner == nullptr && m_pDialog->IsClosing())
        return; // the window is going: nobody is there to answer a worker's box
    ::MessageBoxW(hOwner, WideFromProgramText(strText).c_str(),
                  WideFromProgramText(strCaption).c_str(), nType);
}

void CWin32WindowSystem::RunPendingWork() {
    // Peeking also delivers the messages other threads send and wait for.
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

bool CWin32WindowSystem::PostVXMessage(unsigned int nMsg, _VX_COMMAND_MSG* pRecord) {
    return ::PostMessageW(m_hWnd, nMsg, reinterpret_cast<WPARAM>(pRecord), 0) != FALSE;
}

bool CWin32WindowSystem::HasControl(int nId) {
    return ::GetDlgItem(m_hWnd, nId) != nullptr;
}

std::string CWin32WindowSystem::GetControlText(int nId, size_t nMaxBytes) {
    return CutBytes(WindowTextOf(::GetDlgItem(m_hWnd, nId)), nMaxBytes);
}

bool CWin32WindowSystem::IsControlEnabled(int nId) {
    return ::IsWindowEnabled(::GetDlgItem(m_hWnd, nId)) != FALSE;
}

void CWin32WindowSystem::FocusControl(int nId) {
    HWND hControl = ::GetDlgItem(m_hWnd, nId);
    if (hControl != nullptr)
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hControl), TRUE);
}

void CWin32WindowSystem::SetCaption(const std::string& strText) {
    ::SetWindowTextW(m_hWnd, WideFromProgramText(strText).c_str());
}

void CWin32WindowSystem::ComboAddItem(int nId, const std::string& strText) {
    ::SendDlgItemMessageW(m_hWnd, nId, CB_ADDSTRING, 0,
                          reinterpret_cast<LPARAM>(WideFromProgramText(strText).c_str()));
}

int CWin32WindowSystem::ComboGetCount(int nId) {
    return static_cast<int>(::SendDlgItemMessageW(m_hWnd, nId, CB_GETCOUNT, 0, 0));
}

std::string CWin32WindowSystem::ComboGetItemText(int nId, int nIndex) {
    LRESULT nLen = ::SendDlgItemMessageW(m_hWnd, nId, CB_GETLBTEXTLEN, nIndex, 0);
    if (nLen == CB_ERR)
        return std::string();
    std::vector<wchar_t> buffer(static_cast<size_t>(nLen) + 1, L'\0');
    ::SendDlgItemMessageW(m_hWnd, nId, CB_GETLBTEXT, nIndex,
                          reinterpret_cast<LPARAM>(buffer.data()));
    return ProgramTextFromWide(buffer.data());
}

int CWin32WindowSystem::ComboGetCurSel(int nId) {
    LRESULT n = ::SendDlgItemMessageW(m_hWnd, nId, CB_GETCURSEL, 0, 0);
    return n == CB_ERR ? -1 : static_cast<int>(n);
}

void CWin32WindowSystem::ComboSetCurSel(int nId, int nIndex) {
    ::SendDlgItemMessageW(m_hWnd, nId, CB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
}

void CWin32WindowSystem::AppendSystemMenuItem(unsigned int nCommand, const std::string& strText) {
    HMENU hMenu = ::GetSystemMenu(m_hWnd, FALSE);
    if (hMenu == nullptr)
        return;
    ::AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(hMenu, MF_STRING, nCommand, WideFromProgramText(strText).c_str());
}

void CWin32WindowSystem::OpenUrl(const std::string& strUrl) {
    ::ShellExecuteW(nullptr, L"open", WideFromProgramText(strUrl).c_str(), nullptr, nullptr,
                    SW_SHOWDEFAULT);
}

void CWin32WindowSystem::SetWindowIcons() {
    if (m_hIcon == nullptr)
        return;
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
}

void CWin32WindowSystem::CreateToolTip() {
    m_hToolTip =
        ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, m_hInstance, nullptr);
    if (m_hToolTip == nullptr)
        return;
    ::SendMessageW(m_hToolTip, TTM_SETMAXTIPWIDTH, 0, 512);
    ::SendMessageW(m_hToolTip, TTM_ACTIVATE, TRUE, 0);
    ::SendMessageW(m_hToolTip, TTM_SETDELAYTIME, TTDT_INITIAL, 50);
    ::SendMessageW(m_hToolTip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
}

void CWin32WindowSystem::StartStatusTimer(unsigned int nTimerId, unsigned int nMilliseconds) {
    ::SetTimer(m_hWnd, nTimerId, nMilliseconds, nullptr);
}

bool CWin32WindowSystem::CreateStatusBar() {
    m_hStatusBar = ::CreateWindowExW(
        0, STATUSCLASSNAMEW, L"", 0x50009200, 0, 0, 0, 0, m_hWnd,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_VX_STATUSBAR)), m_hInstance, nullptr);
    if (m_hStatusBar == nullptr)
        return false;
    Layout(-1);
    return true;
}

void CWin32WindowSystem::SetStatusParts(const std::vector<int>& vecRightEdges) {
    if (m_hStatusBar == nullptr)
        return;
    ::SendMessageW(
        m_hStatusBar, SB_SETPARTS, vecRightEdges.size(),
        reinterpret_cast<LPARAM>(vecRightEdges.empty() ? nullptr : vecRightEdges.data()));
}

void CWin32WindowSystem::SetStatusPartText(int nPart, const std::string& strText) {
    if (m_hStatusBar == nullptr)
        return;
    ::SendMessageW(m_hStatusBar, SB_SETTEXTW, static_cast<WPARAM>(nPart),
                   reinterpret_cast<LPARAM>(WideFromProgramText(strText).c_str()));
}

void CWin32WindowSystem::SetStatusPartTip(int nPart, const std::string& strTip) {
    if (m_hStatusBar == nullptr)
        return;
    ::SendMessageW(m_hStatusBar, SB_SETTIPTEXTW, static_cast<WPARAM>(nPart),
                   reinterpret_cast<LPARAM>(WideFromProgramText(strTip).c_str()));
}

bool CWin32WindowSystem::AddToolTip(int nControlId, const std::string* pText, int nToolId) {
    HWND hControl = ::GetDlgItem(m_hWnd, nControlId);
    if (m_hToolTip == nullptr || hControl == nullptr)
        return false;
    std::wstring strWide = pText != nullptr ? WideFromProgramText(*pText) : std::wstring();
    TOOLINFOW info{};
    info.cbSize = sizeof(info);
    info.hwnd = hControl;
    info.uId = static_cast<UINT_PTR>(nToolId);
    ::GetClientRect(hControl, &info.rect);
    info.hinst = m_hInstance;
    info.lpszText = pText != nullptr ? &strWide[0] : LPSTR_TEXTCALLBACKW;
    return ::SendMessageW(m_hToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info)) != FALSE;
}

void CWin32WindowSystem::EndProcess(int nExitCode) {
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(nExitCode));
    ::ExitProcess(static_cast<UINT>(nExitCode)); // not reached
}

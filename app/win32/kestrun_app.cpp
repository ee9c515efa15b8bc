// Start-up of the Windows program: common controls, the registry store, the main
// window on the stack with the release gate taken while it is built, Winsock, then the
// modal run.
#include "app/win32/kestrun_app.h"

#include "app/kestrun_dlg.h"
#include "app/resource.h"
#include "server/assets.h"
#include "app/win32/registry_store.h"
#include "framework/win32/win32_window_system.h"
#include "support/error_text.h"
#include "support/format.h"
#include "support/process_paths.h"
#include "support/socket.h"
#include "support/text_win32.h"

#include <commctrl.h>

namespace {
// The company key of the settings in the per-user registry.
const char* const kRegistryCompany = "应用程序向导生成的本地应用程序";
} // namespace

bool CKestrunApp::InitInstance(HINSTANCE hInstance) {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&icc);

    CRegistrySettingsStore store(kRegistryCompany, GetProcessBaseName());

    // Building the dialog takes the start tick: an unsupported release stops here,
    // before any window exists.
    CKestrunDlg dlg(&store, &LoadTextResource);
    HICON hIcon = static_cast<HICON>(
        ::LoadImageW(hInstance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));

    if (!InitSocketLibrary()) {
        std::string strText = FormatString("%s，%s", "WSAStartup", GetErrorText(0).c_str());
        ::MessageBoxW(nullptr, WideFromProgramText(strText).c_str(),
                      WideFromProgramText(dlg.AppName()).c_str(), MB_OK);
    }

    CWin32WindowSystem window(hInstance, &dlg, hIcon);
    window.RunModal(nullptr);
    return false;
}

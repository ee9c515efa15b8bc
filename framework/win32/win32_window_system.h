// The Win32 window system under CVXDialog: a dialog from a template in the module's
// resources, run modally by our own loop so that the keyboard rules see every message.
#pragma once

#include "framework/vx_dialog.h"
#include "framework/vx_window_system.h"

#include <windows.h>

class CWin32WindowSystem : public CVXWindowSystem {
public:
    // hIcon is the window icon (may be null); the dialog is not owned.
    CWin32WindowSystem(HINSTANCE hInstance, CVXDialog* pDialog, HICON hIcon);
    ~CWin32WindowSystem() override;
    CWin32WindowSystem(const CWin32WindowSystem&) = delete;
    CWin32WindowSystem& operator=(const CWin32WindowSystem&) = delete;

    // Creates the window from the dialog's template and runs it until it ends; the
    // dialog's result (IDOK or IDCANCEL), or -1 when the window could not be created.
    INT_PTR RunModal(HWND hParent);
    HWND Handle() const { return m_hWnd; }

    // ---- CVXWindowSystem ----
    void SetControlText(int nId, const std::string& strText) override;
    void EnableControl(int nId, bool bEnable) override;
    void ShowMessageBox(const std::string& strText, const std::string& strCaption,
                        EVXBoxIcon icon) override;
    bool PostVXMessage(unsigned int nMsg, _VX_COMMAND_MSG* pRecord) override;
    void RunPendingWork() override;
    bool HasControl(int nId) override;
    std::string GetControlText(int nId, size_t nMaxBytes) override;
    bool IsControlEnabled(int nId) override;
    void FocusControl(int nId) override;
    void SetCaption(const std::string& strText) override;
    void ComboAddItem(int nId, const std::string& strText) override;
    int ComboGetCount(int nId) override;
    std::string ComboGetItemText(int nId, int nIndex) override;
    int ComboGetCurSel(int nId) override;
    void ComboSetCurSel(int nId, int nIndex) override;
    void AppendSystemMenuItem(unsigned int nCommand, const std::string& strText) override;
    void OpenUrl(const std::string& strUrl) override;
    void SetWindowIcons() override;
    void CreateToolTip() override;
    void StartStatusTimer(unsigned int nTimerId, unsigned int nMilliseconds) override;
    bool CreateStatusBar() override;
    void SetStatusParts(const std::vector<int>& vecRightEdges) override;
    void SetStatusPartText(int nPart, const std::string& strText) override;
    void SetStatusPartTip(int nPart, const std::string& strTip) override;
    bool AddToolTip(int nControlId, const std::string* pText, int nToolId) override;
    [[noreturn]] void EndProcess(int nExitCode) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    // The keyboard, timer and tooltip rules; true when the message is consumed.
    bool PreTranslateMessage(MSG* pMsg);
    void Layout(int nSizeType);
    void PaintIconic();
    void DrainQueue();
    void EndModal(INT_PTR nResult);

    HINSTANCE m_hInstance;
    CVXDialog* m_pDialog;
    HICON m_hIcon;
    HWND m_hWnd = nullptr;
    HWND m_hStatusBar = nullptr;
    HWND m_hToolTip = nullptr;
    bool m_bEnded = false;
    INT_PTR m_nResult = IDCANCEL;
};

// What a framework dialog needs from a window system. One implementation per window
// system (framework/win32, framework/gtk); the dialog logic above it is shared.
//
// Texts are the program's 8-bit strings (code page 936 on Windows, UTF-8 on Linux);
// each backend converts them at its boundary. Control ids are the dialog template's.
#pragma once

#include <string>
#include <vector>

struct _VX_COMMAND_MSG;

enum class EVXBoxIcon { None, Warning, Error };

class CVXWindowSystem {
public:
    virtual ~CVXWindowSystem() = default;

    // ---- safe from any thread; the backend carries the change to the window's
    // thread and waits for it (Win32 does this for every control message) ----
    virtual void SetControlText(int nId, const std::string& strText) = 0;
    virtual void EnableControl(int nId, bool bEnable) = 0;
    // A modal box owned by the dialog when called on its thread, without an owner on
    // any other thread; returns when the user dismisses it.
    virtual void ShowMessageBox(const std::string& strText, const std::string& strCaption,
                                EVXBoxIcon icon) = 0;
    // Queues a message (WM_VX_COMMAND or WM_VX_CALLBACK) carrying a record to the
    // window's thread, which hands it to CVXDialog::WindowProcVX. False if not queued.
    virtual bool PostVXMessage(unsigned int nMsg, _VX_COMMAND_MSG* pRecord) = 0;

    // ---- window's thread: carries out what other threads have queued for it (their
    // waiting calls, posted messages) without waiting for more ----
    virtual void RunPendingWork() = 0;

    // ---- window's thread only ----
    virtual bool HasControl(int nId) = 0;
    // At most nMaxBytes bytes of the control's text.
    virtual std::string GetControlText(int nId, size_t nMaxBytes) = 0;
    virtual bool IsControlEnabled(int nId) = 0;
    virtual void FocusControl(int nId) = 0;
    virtual void SetCaption(const std::string& strText) = 0;
    // Combo box with a sorted list: the backend keeps the list sorted as it adds.
    virtual void ComboAddItem(int nId, const std::string& strText) = 0;
    virtual int ComboGetCount(int nId) = 0;
    virtual std::string ComboGetItemText(int nId, int nIndex) = 0;
    virtual int ComboGetCurSel(int nId) = 0;              // -1 when nothing is selected
    virtual void ComboSetCurSel(int nId, int nIndex) = 0; // -1 clears the selection
    virtual void AppendSystemMenuItem(unsigned int nCommand, const std::string& strText) = 0;
    virtual void OpenUrl(const std::string& strUrl) = 0;

    // Framework parts of the window.
    virtual void SetWindowIcons() = 0;
    virtual void CreateToolTip() = 0;
    virtual void StartStatusTimer(unsigned int nTimerId, unsigned int nMilliseconds) = 0;
    virtual bool CreateStatusBar() = 0;
    virtual void SetStatusParts(const std::vector<int>& vecRightEdges) = 0;
    virtual void SetStatusPartText(int nPart, const std::string& strText) = 0;
    virtual void SetStatusPartTip(int nPart, const std::string& strTip) = 0;
    // Registers a tool with the tooltip control; false when there is none.
    virtual bool AddToolTip(int nControlId, const std::string* pText, int nToolId) = 0;

    // Ends the whole process at once with this exit code.
    [[noreturn]] virtual void EndProcess(int nExitCode) = 0;
};

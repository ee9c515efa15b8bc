// CVXDialog: the base of the program's dialogs. Status bar of named panes, caption,
// layout, the close hook and the cross-thread command channel, written against
// CVXWindowSystem so that every window system shares this logic. Hooks that no dialog
// of this program uses live in vx_dialog_extension_hooks.h.
#pragma once

#include "framework/object_pool.h"
#include "framework/vx_dialog_extension_hooks.h"
#include "framework/status_panes.h"
#include "framework/vx_types.h"
#include "framework/vx_window_system.h"

#include <atomic>
#include <cstdint>
#include <string>

class CVXDialog : public CVXDialogExtensionHooks {
public:
    // Construction takes the start tick, which on Windows checks the release against
    // the supported list and ends the process before any window exists when it fails.
    explicit CVXDialog(int nTemplateId);
    virtual ~CVXDialog();
    CVXDialog(const CVXDialog&) = delete;
    CVXDialog& operator=(const CVXDialog&) = delete;

    int TemplateId() const { return m_nTemplateId; }
    // The backend attaches itself before the window is created and detaches after it
    // has gone.
    void AttachWindowSystem(CVXWindowSystem* pWindowSystem) { m_pWs = pWindowSystem; }
    CVXWindowSystem* WindowSystem() const { return m_pWs; }

    // ---- hooks for derived dialogs ----
    // Asked before the window closes; non-zero lets it close.
    virtual int OnQueryClose() { return 1; }
    // A WM_VX_COMMAND whose name is neither "UI_COMMAND" nor "VX_APP_RUN_STATE".
    virtual void OnVXCommand(const std::string& strName, const std::string& strSubCommand,
                             const std::string& strText, intptr_t nValue);
    // The content rectangle inside the margins, after each layout once initialised.
    virtual void OnLayoutClient(int x, int y, int cx, int cy);
    // Registers a control (the status bar is IDC_VX_STATUSBAR) with the tooltip
    // control. A null text means "ask the window for it" (the status bar's tips).
    bool AddToolTip(int nControlId, const std::string* pText, int nToolId) override;

    // ---- called by the window-system backend on the dialog's thread ----
    // Framework initialisation; a derived dialog calls it first from its own.
    virtual bool OnInitDialog();
    // A button click (BN_CLICKED) of a control of the template.
    virtual void OnCommand(int nControlId) { (void)nControlId; }
    // A system-menu command; false sends it to the default processing.
    virtual bool OnSysCommand(unsigned int nCommand) {
        (void)nCommand;
        return false;
    }
    // Cancel, close box, Alt+F4, system menu Close: true lets the window end.
    bool OnCancel();
    // The window is being destroyed: commands are no longer acted on from now on.
    void OnDestroyBegin() { m_bClosing.store(true); }
    // The backend is about to go (its destructor, on the dialog's thread): the last moment
    // at which threads that call into it can still be wound up.
    virtual void OnWindowSystemDetaching() {}
    // After the status bar has been placed: the content rectangle inside the margins.
    void LayoutContent(int nLeft, int nTop, int nRight, int nBottom);
    // WM_VX_COMMAND and WM_VX_CALLBACK with their record; returns 1.
    intptr_t WindowProcVX(unsigned int nMsg, _VX_COMMAND_MSG* pRecord);

    // ---- operations ----
    bool CreateStatusBar();
    int AddStatusPane(const char* pszName, int nWidth);
    // Any thread: a worker's update travels to the dialog's thread as a command.
    void SetStatusPaneText(int nIndex, const std::string& strText);
    void SetStatusPaneTextByName(const std::string& strName, const std::string& strText);
    void SetAppInfo(const std::string& strName, const std::string& strVersion);
    // True when the dialog has a control with this id.
    bool FindControl(int nControlId);
    // Any thread: a "UI_COMMAND" carried out on the dialog's thread.
    void SendVXCommand(const char* pszSubCommand, const char* pszText, intptr_t nValue);

    bool IsInitialized() const { return m_bInitialized; }
    bool IsClosing() const { return m_bClosing.load(); }
    bool IsUIThread() const;
    const std::string& AppName() const { return m_strAppName; }
    const std::string& Version() const { return m_strVersion; }
    uint32_t StartTick() const { return m_dwStartTick; }
    CStatusPaneList& StatusPanes() { return m_arrStatusPanes; }
    CObjectPool<_VX_COMMAND_MSG>& CommandPool() { return m_cmdPool; }

    struct CMargins {
        int nLeft, nTop, nRight, nBottom;
    };
    const CMargins& Margins() const { return m_rcMargin; }

    // The UI command that carries a worker's pane text to the dialog's thread.
    static const char* const kStatusSetItemText;

protected:
    // Rebuilds every part of the status bar from the pane list.
    void RebuildStatusBar();

private:
    void CarryOutUICommand(_VX_COMMAND_MSG* pRecord);
    void ReleaseCommand(_VX_COMMAND_MSG* pRecord);

    const int m_nTemplateId;
    CVXWindowSystem* m_pWs = nullptr;

    CObjectPool<_VX_COMMAND_MSG> m_cmdPool;
    bool m_bInitialized = false;
    uint32_t m_dwUIThreadId;
    std::atomic<bool> m_bClosing{false};
    CMargins m_rcMargin{10, 10, 10, 10};
    CStatusPaneList m_arrStatusPanes;
    bool m_bStatusBar = false;
    uint32_t m_dwStartTick;
    std::string m_strAppName;
    std::string m_strVersion;
    bool m_bToolTip = false;
};

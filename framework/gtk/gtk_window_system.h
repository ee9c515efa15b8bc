// The GTK 3 backend of CVXDialog: builds the window from a dialog template, carries
// worker threads' requests to GTK's main loop, and runs the window until it has gone.
//
// Every GTK call happens on the thread that runs the main loop (the dialog's thread).
// Other threads either queue a call and return (commands) or queue it and wait until the
// main loop has carried it out (captions, enabled states, message boxes); the main loop
// itself never waits for another thread, so the two cannot deadlock.
#pragma once

#include "framework/gtk/dialog_template.h"
#include "framework/vx_dialog.h"
#include "framework/vx_window_system.h"

#include <gtk/gtk.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

class CGtkWindowSystem : public CVXWindowSystem {
public:
    // pDlg must outlive this object. Call on the dialog's thread after gtk_init.
    CGtkWindowSystem(CVXDialog* pDlg, CGtkDialogTemplate tmpl);
    ~CGtkWindowSystem() override;
    CGtkWindowSystem(const CGtkWindowSystem&) = delete;
    CGtkWindowSystem& operator=(const CGtkWindowSystem&) = delete;

    // Window icons in several sizes (most wanted first); set before RunModal.
    void SetIcons(std::vector<GdkPixbuf*> vecIcons);

    // Creates the window, runs the dialog's initialisation, shows the window and runs the
    // main loop until the window is destroyed.
    void RunModal();

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

    // ---- for the test hook and the application, dialog's thread only ----
    GtkWidget* Window() const { return m_pWindow; }
    GtkWidget* Control(int nId) const;
    // Id of the control that has the keyboard focus, or -1.
    int FocusedControlId() const;
    // The tab stops in focus order.
    std::vector<int> TabOrder() const;
    int StatusPartCount() const { return static_cast<int>(m_vecParts.size()); }
    GtkWidget* StatusPart(int nPart) const;
    bool StatusBarVisible() const;
    // Open message boxes, oldest first.
    const std::vector<GtkWidget*>& MessageBoxes() const { return m_vecBoxes; }
    // Texts of the window menu (header bar) and of the context menu.
    std::vector<std::string> MenuItemTexts(bool bContextMenu) const;
    // Activates the first item with this text in the chosen menu; false if none.
    bool ActivateMenuItem(bool bContextMenu, const std::string& strText);
    // Status timer ticks so far.
    unsigned int StatusTimerTicks() const { return m_nTimerTicks; }
    int BaseUnitX() const { return m_nBaseX; }
    int BaseUnitY() const { return m_nBaseY; }
    // The header bar's close button, which closes the window as the title bar's would.
    GtkWidget* CloseButton() const;

    // Queues fn to the main loop and returns at once (any thread). Calls queued from one
    // thread run in the order they were queued.
    static void Post(std::function<void()> fn);

private:
    // Runs fn on the main loop: at once on the dialog's thread, otherwise queued, and
    // waits until it has run.
    void RunOnMainLoop(const std::function<void()>& fn);
    void Build();
    void ComputeBaseUnits();
    GtkWidget* MakeControl(const CGtkControlDef& def);
    void AddMenuItem(GtkWidget* pMenu, const std::string& strText, std::function<void()> fn);
    GtkWidget* CreateMessageBox(const std::string& strText, const std::string& strCaption,
                                EVXBoxIcon icon);
    void LayoutNow();

    static gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer pThis);
    static void OnDestroy(GtkWidget*, gpointer pThis);
    static gboolean OnKeyPress(GtkWidget*, GdkEventKey* pEvent, gpointer pThis);
    static gboolean OnButtonPress(GtkWidget*, GdkEventButton* pEvent, gpointer pThis);
    static void OnContentAllocate(GtkWidget*, GdkRectangle*, gpointer pThis);
    static void OnButtonClicked(GtkButton* pButton, gpointer pThis);
    static gboolean OnStatusTimer(gpointer pThis);

    CVXDialog* m_pDlg;
    CGtkDialogTemplate m_tmpl;
    GtkWidget* m_pWindow = nullptr;
    GtkWidget* m_pHeaderBar = nullptr;
    GtkWidget* m_pWindowMenu = nullptr;
    GtkWidget* m_pContextMenu = nullptr;
    GtkWidget* m_pOverlay = nullptr;
    GtkWidget* m_pFixed = nullptr;
    GtkWidget* m_pStatusBar = nullptr;
    std::vector<GtkWidget*> m_vecParts;
    std::vector<std::string> m_vecPartTips;
    bool m_bStatusTips = false;
    std::map<int, GtkWidget*> m_mapControls; // filled by Build, read-only afterwards
    std::vector<int> m_vecTabOrder;
    std::vector<GtkWidget*> m_vecBoxes;
    std::vector<GdkPixbuf*> m_vecIcons;
    GtkCssProvider* m_pCss = nullptr;
    int m_nBaseX = 7;
    int m_nBaseY = 15;
    guint m_nTimer = 0;
    unsigned int m_nTimerTicks = 0;
    bool m_bToolTips = false;
    bool m_bDestroyed = false;
    int m_nLastLayout[4] = {-1, -1, -1, -1};
};

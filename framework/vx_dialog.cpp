// The window-system-free part of CVXDialog: panes, caption, close hook and commands.
#include "framework/vx_dialog.h"

#include "framework/vx_event.h"

#include "support/format.h"
#include "support/platform.h"
#include "support/process_paths.h"
#include "support/system_info.h"

const char* const CVXDialog::kStatusSetItemText = "StatusBar_SetItemText";

CVXDialog::CVXDialog(int nTemplateId)
    : m_nTemplateId(nTemplateId),
      m_cmdPool(2, 8, "CObjectPool<struct CVXDialog::_VX_COMMAND_MSG>::FreeObject"),
      m_dwUIThreadId(0), m_dwStartTick(GetStartTick()), m_strAppName(GetProcessBaseName()) {
    m_dwUIThreadId = CurrentThreadId();
}

CVXDialog::~CVXDialog() {
    m_arrStatusPanes.Clear();
}

void CVXDialog::OnVXCommand(const std::string&, const std::string&, const std::string&, intptr_t) {}
void CVXDialog::OnLayoutClient(int, int, int, int) {}

bool CVXDialog::AddToolTip(int nControlId, const std::string* pText, int nToolId) {
    if (m_pWs == nullptr || !m_bToolTip || !m_pWs->HasControl(nControlId))
        return false;
    return m_pWs->AddToolTip(nControlId, pText, nToolId);
}

bool CVXDialog::OnInitDialog() {
    if (m_bInitialized)
        return true;
    if (m_pWs != nullptr)
        m_pWs->SetWindowIcons();
    m_bInitialized = true;
    if (m_pWs != nullptr) {
        m_pWs->CreateToolTip();
        m_bToolTip = true;
        m_pWs->StartStatusTimer(IDT_VX_STATUS, 500);
    }
    return true;
}

bool CVXDialog::OnCancel() {
    return OnQueryClose() != 0;
}

void CVXDialog::LayoutContent(int nLeft, int nTop, int nRight, int nBottom) {
    int x = nLeft + m_rcMargin.nLeft;
    int y = nTop + m_rcMargin.nTop;
    int cx = (nRight - m_rcMargin.nRight) - x;
    int cy = (nBottom - m_rcMargin.nBottom) - y;
    if (m_bInitialized)
        OnLayoutClient(x, y, cx, cy);
}

bool CVXDialog::IsUIThread() const {
    return CurrentThreadId() == m_dwUIThreadId;
}

bool CVXDialog::CreateStatusBar() {
    if (m_pWs == nullptr)
        return false;
    m_bStatusBar = m_pWs->CreateStatusBar();
    AddToolTip(IDC_VX_STATUSBAR, nullptr, 0);
    return m_bStatusBar;
}

int CVXDialog::AddStatusPane(const char* pszName, int nWidth) {
    int nIndex = m_arrStatusPanes.Add(pszName, nWidth);
    RebuildStatusBar();
    return nIndex;
}

void CVXDialog::RebuildStatusBar() {
    if (m_pWs == nullptr || !m_bStatusBar)
        return;
    CStatusBarLayout layout = m_arrStatusPanes.Layout();
    m_pWs->SetStatusParts(std::vector<int>());
    m_pWs->SetStatusParts(layout.vecRightEdges);
    for (size_t i = 0; i < layout.vecTexts.size(); ++i) {
        m_pWs->SetStatusPartText(static_cast<int>(i), layout.vecTexts[i]);
        m_pWs->SetStatusPartTip(static_cast<int>(i), layout.vecTips[i]);
    }
}

void CVXDialog::SetStatusPaneText(int nIndex, const std::string& strText) {
    if (!IsUIThread()) {
        SendVXCommand(kStatusSetItemText, strText.c_str(), nIndex);
        return;
    }
    std::string strDisplay;
    if (!m_arrStatusPanes.SetText(nIndex, strText, strDisplay))
        return;
    if (m_pWs != nullptr && m_bStatusBar)
        m_pWs->SetStatusPartText(nIndex, strDisplay);
}

void CVXDialog::SetStatusPaneTextByName(const std::string& strName, const std::string& strText) {
    int nIndex = m_arrStatusPanes.FindByName(strName);
    if (nIndex >= 0)
        SetStatusPaneText(nIndex, strText);
}

void CVXDialog::SetAppInfo(const std::string& strName, const std::string& strVersion) {
    m_strAppName = strName;
    m_strVersion = strVersion;
    if (m_pWs != nullptr)
        m_pWs->SetCaption(FormatString("%s - %s", strName.c_str(), strVersion.c_str()));
}

bool CVXDialog::FindControl(int nControlId) {
    return m_pWs != nullptr && m_pWs->HasControl(nControlId);
}

void CVXDialog::SendVXCommand(const char* pszSubCommand, const char* pszText, intptr_t nValue) {
    if (m_bClosing.load())
        return;
    _VX_COMMAND_MSG* pRecord = m_cmdPool.AllocObject();
    if (pRecord == nullptr) {
        TraceDebug("申请失败!%s:%d", "CVXDialog::SendVXCommand", 956);
        return;
    }
    pRecord->strName = "UI_COMMAND";
    pRecord->strSubCommand = pszSubCommand != nullptr ? pszSubCommand : "";
    pRecord->strText = pszText != nullptr ? pszText : "";
    pRecord->nValue = nValue;
    if (IsUIThread()) {
        WindowProcVX(WM_VX_COMMAND, pRecord);
        return;
    }
    pRecord->hEvent = nullptr;
    // A failed post leaves the record in use until the pool goes, as documented.
    if (m_pWs != nullptr)
        m_pWs->PostVXMessage(WM_VX_COMMAND, pRecord);
}

void CVXDialog::CarryOutUICommand(_VX_COMMAND_MSG* pRecord) {
    const std::string& strSub = pRecord->strSubCommand;
    if (strSub == kStatusSetItemText)
        SetStatusPaneText(static_cast<int>(pRecord->nValue), pRecord->strText);
    else if (strSub == "PPPOE_DIAL_COMPLETE")
        OnPPPoEDialComplete(static_cast<int>(pRecord->nValue), pRecord->strText);
    // "ShowMessage" and unknown sub-commands: this dialog has nothing to do for them.
}

void CVXDialog::ReleaseCommand(_VX_COMMAND_MSG* pRecord) {
    if (pRecord->hEvent != nullptr) {
        pRecord->hEvent->Set();
        return;
    }
    m_cmdPool.FreeObject(pRecord);
}

intptr_t CVXDialog::WindowProcVX(unsigned int nMsg, _VX_COMMAND_MSG* pRecord) {
    if (pRecord == nullptr)
        return 1;
    if (nMsg == WM_VX_COMMAND) {
        if (!m_bClosing.load()) {
            if (pRecord->strName == "UI_COMMAND")
                CarryOutUICommand(pRecord);
            else if (pRecord->strName == "VX_APP_RUN_STATE")
                OnAppRunState(static_cast<int>(pRecord->nValue));
            else
                OnVXCommand(pRecord->strName, pRecord->strSubCommand, pRecord->strText,
                            pRecord->nValue);
        }
    } else if (nMsg == WM_VX_CALLBACK) {
        if (pRecord->nKind >= 1 && pRecord->nKind <= 20)
            CallBack(pRecord, m_bClosing.load());
        else if (!m_bClosing.load())
            OnUserMessage(pRecord);
    }
    ReleaseCommand(pRecord);
    return 1;
}

// The main window: start-up order, settings, data exchange, the button handlers and the
// captions and enabled states of the server and client sides.
#include "app/kestrun_dlg.h"

#include "app/data_exchange.h"
#include "app/resource.h"
#include "support/format.h"
#include "support/version.h"

#include <chrono>
#include <thread>
#include <vector>

const char* const CKestrunDlg::kSection = "Kestrun";
const char* const CKestrunDlg::kRecvPane = "    接收";
const char* const CKestrunDlg::kSendPane = "发送";
const char* const CKestrunDlg::kDownload = "下载";
const char* const CKestrunDlg::kUpload = "上传";
const char* const CKestrunDlg::kMakerSite = kMakerWebSite;

namespace {
const char* const kServerStart = "启动服务";
const char* const kServerStop = "停止";
const char* const kServerStopping = "正在停止";
const char* const kClientStart = "开始连接测试";
const char* const kClientStop = "停止测试";
const int kPortMin = 1;
const int kPortMax = 65535;
// A port box is read as at most this many bytes.
const size_t kPortTextMax = 63;
const size_t kTextMax = 65535;
} // namespace

CKestrunDlg::CKestrunDlg(CSettingsStore* pSettings, PFN_LoadTextResource fnLoadText)
    : CVXDialog(IDD_KESTRUN_DIALOG), m_pSettings(pSettings), m_fnLoadText(std::move(fnLoadText)),
      m_engine(this), m_meter(m_engine), m_server(m_engine), m_client(m_engine) {}

CKestrunDlg::~CKestrunDlg() {
    // Workers report to this object: stop them while it is still whole.
    StopWorkers();
}

void CKestrunDlg::StopWorkers() {
    OnDestroyBegin(); // from now on, commands are released without acting
    m_meter.StopMeter();
    m_server.StopServer();
    m_client.StopClientTest();
    while (m_server.HasServerRun() || m_client.IsClientTestActive()) {
        if (CVXWindowSystem* pWs = WindowSystem())
            pWs->RunPendingWork();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool CKestrunDlg::OnInitDialog() {
    CVXDialog::OnInitDialog();
    SetAppInfo(kProductName, kProductVersion);

    CVXWindowSystem* pWs = WindowSystem();
    if (pWs != nullptr)
        pWs->AppendSystemMenuItem(IDM_VISIT_SITE, "访问官网...");

    LoadSettings();

    if (pWs != nullptr) {
        pWs->ComboAddItem(IDC_TYPE, kDownload);
        pWs->ComboAddItem(IDC_TYPE, kUpload);
    }

    if (m_fnLoadText) {
        auto pTexts = std::make_shared<CPageTexts>();
        pTexts->strPageHtml = m_fnLoadText(IDR_TEXT_PAGE_HTML);
        pTexts->strButtonsCss = m_fnLoadText(IDR_TEXT_BUTTONS_CSS);
        pTexts->strEchartsJs = m_fnLoadText(IDR_TEXT_ECHARTS_JS);
        m_pPageTexts = pTexts;
    }

    m_meter.StartMeter();
    UpdateData(false);

    CreateStatusBar();
    AddStatusPane(kRecvPane, 180);
    AddStatusPane(kSendPane, 100);
    return true;
}

void CKestrunDlg::LoadSettings() {
    if (m_pSettings == nullptr)
        return;
    m_nListenPort = m_pSettings->ReadInt(kSection, "m_nListenPort", 10001);
    m_nServerPort = m_pSettings->ReadInt(kSection, "m_nServerPort", 10001);
    m_strServerAddr = m_pSettings->ReadString(kSection, "m_strServerAddr", "127.0.0.1");
    m_strType = m_pSettings->ReadString(kSection, "m_strType", kDownload);
    if (m_strType.empty())
        m_strType = kDownload;
}

void CKestrunDlg::SaveSettings() {
    if (m_pSettings == nullptr)
        return;
    m_pSettings->WriteInt(kSection, "m_nListenPort", m_nListenPort);
    m_pSettings->WriteInt(kSection, "m_nServerPort", m_nServerPort);
    m_pSettings->WriteString(kSection, "m_strServerAddr", m_strServerAddr);
    m_pSettings->WriteString(kSection, "m_strType", m_strType);
}

bool CKestrunDlg::ReadPort(int nControlId, int& nMember) {
    CVXWindowSystem* pWs = WindowSystem();
    int nValue = 0;
    if (!ParseDialogInt(pWs->GetControlText(nControlId, kPortTextMax), nValue)) {
        pWs->ShowMessageBox(kEnterIntegerText, AppName(), EVXBoxIcon::None);
        pWs->FocusControl(nControlId);
        return false;
    }
    // An out-of-range number is kept in its member even though the exchange fails.
    nMember = nValue;
    if (nValue < kPortMin || nValue > kPortMax) {
        pWs->ShowMessageBox(RangeMessage(kPortMin, kPortMax), AppName(), EVXBoxIcon::Warning);
        pWs->FocusControl(nControlId);
        return false;
    }
    return true;
}

bool CKestrunDlg::UpdateData(bool bSaveAndValidate) {
    CVXWindowSystem* pWs = WindowSystem();
    if (pWs == nullptr)
        return false;
    if (!bSaveAndValidate) {
        pWs->SetControlText(IDC_LISTEN_PORT, std::to_string(m_nListenPort));
        pWs->SetControlText(IDC_SERVER_ADDR, m_strServerAddr);
        pWs->SetControlText(IDC_SERVER_PORT, std::to_string(m_nServerPort));
        std::vector<std::string> vecItems;
        int nCount = pWs->ComboGetCount(IDC_TYPE);
        for (int i = 0; i < nCount; ++i)
            vecItems.push_back(pWs->ComboGetItemText(IDC_TYPE, i));
        pWs->ComboSetCurSel(IDC_TYPE, FindPrefixItem(vecItems, m_strType));
        return true;
    }
    // The engine copies what a run or a test needs when it starts, so rewriting the
    // members here never races with running sessions.
    if (!ReadPort(IDC_LISTEN_PORT, m_nListenPort))
        return false;
    m_strServerAddr = pWs->GetControlText(IDC_SERVER_ADDR, kTextMax);
    if (!ReadPort(IDC_SERVER_PORT, m_nServerPort))
        return false;
    int nSel = pWs->ComboGetCurSel(IDC_TYPE);
    m_strType = nSel >= 0 ? pWs->ComboGetItemText(IDC_TYPE, nSel) : std::string();
    return true;
}

void CKestrunDlg::OnCommand(int nControlId) {
    switch (nControlId) {
    case IDC_SERVER_BUTTON:
        OnServerButton();
        break;
    case IDC_CLIENT_BUTTON:
        OnClientButton();
        break;
    case IDC_WEBTEST_BUTTON:
        OnWebTestButton();
        break;
    default:
        break;
    }
}

bool CKestrunDlg::OnSysCommand(unsigned int nCommand) {
    if (nCommand != IDM_VISIT_SITE)
        return false;
    if (WindowSystem() != nullptr)
        WindowSystem()->OpenUrl(kMakerSite);
    return true;
}

void CKestrunDlg::OnServerButton() {
    CVXWindowSystem* pWs = WindowSystem();
    // A run counts from its start on, before it has its socket, so a second click in
    // that interval stops the starting run instead of starting another one.
    if (!m_server.IsServerRunActive()) {
        if (!UpdateData(true))
            return;
        m_bServerStopClicked.store(false);
        CServerSettings settings;
        settings.strListenAddr = m_strListenAddr;
        settings.nListenPort = m_nListenPort;
        settings.pPageTexts = m_pPageTexts;
        m_server.StartServer(settings);
        return;
    }
    m_bServerStopClicked.store(true);
    pWs->EnableControl(IDC_SERVER_BUTTON, false);
    pWs->SetControlText(IDC_SERVER_BUTTON, kServerStopping);
    m_server.StopServer();
}

void CKestrunDlg::OnClientButton() {
    if (!UpdateData(true))
        return;
    if (m_client.ActiveClientCount() == 0) {
        CClientSettings settings;
        settings.strServerAddr = m_strServerAddr;
        settings.nServerPort = m_nServerPort;
        settings.direction =
            m_strType == kDownload ? EClientDirection::kDownload : EClientDirection::kUpload;
        settings.nSessions = CKestrunEngine::kClientSessions;
        m_client.StartClientTest(settings);
        return;
    }
    WindowSystem()->EnableControl(IDC_CLIENT_BUTTON, false);
    m_client.StopClientTest();
}

void CKestrunDlg::OnWebTestButton() {
    if (WindowSystem() != nullptr)
        WindowSystem()->OpenUrl(FormatString("http://127.0.0.1:%d/", m_nListenPort));
}

int CKestrunDlg::OnQueryClose() {
    // The result of the exchange is not consulted: whatever it stored is saved.
    UpdateData(true);
    SaveSettings();
    if (m_fnEndProcess)
        m_fnEndProcess(1);
    else if (WindowSystem() != nullptr)
        WindowSystem()->EndProcess(1);
    return 0;
}

void CKestrunDlg::OnServerStarted() {
    if (CVXWindowSystem* pWs = WindowSystem()) {
        // A stop clicked before this thread got here has already shown "正在停止" and
        // must keep it. The flag is set before that caption, so looking again after ours
        // puts it back when the click came in between.
        if (!m_bServerStopClicked.load()) {
            pWs->SetControlText(IDC_SERVER_BUTTON, kServerStop);
            if (m_bServerStopClicked.load())
                pWs->SetControlText(IDC_SERVER_BUTTON, kServerStopping);
        }
        pWs->EnableControl(IDC_LISTEN_PORT, false);
        pWs->EnableControl(IDC_WEBTEST_BUTTON, true);
    }
}

void CKestrunDlg::OnServerError(const std::string& strErrorText) {
    if (IsClosing())
        return;
    if (CVXWindowSystem* pWs = WindowSystem())
        pWs->ShowMessageBox(strErrorText, AppName(), EVXBoxIcon::None);
}

void CKestrunDlg::OnServerStopped() {
    if (CVXWindowSystem* pWs = WindowSystem()) {
        pWs->SetControlText(IDC_SERVER_BUTTON, kServerStart);
        pWs->EnableControl(IDC_LISTEN_PORT, true);
        pWs->EnableControl(IDC_WEBTEST_BUTTON, false);
        // Last, so that a click can only come once the stopped state is complete.
        pWs->EnableControl(IDC_SERVER_BUTTON, true);
    }
}

void CKestrunDlg::EnableClientSettings(bool bEnable) {
    for (int nId : {IDC_TYPE, IDC_SERVER_ADDR, IDC_SERVER_PORT})
        WindowSystem()->EnableControl(nId, bEnable);
}

void CKestrunDlg::OnClientSessionStarted() {
    if (CVXWindowSystem* pWs = WindowSystem()) {
        pWs->SetControlText(IDC_CLIENT_BUTTON, kClientStop);
        EnableClientSettings(false);
    }
}

void CKestrunDlg::OnClientTestEnded(const std::string& strErrorText) {
    CVXWindowSystem* pWs = WindowSystem();
    if (pWs == nullptr)
        return;
    if (!strErrorText.empty() && !IsClosing())
        pWs->ShowMessageBox(strErrorText, AppName(), EVXBoxIcon::Error);
    pWs->SetControlText(IDC_CLIENT_BUTTON, kClientStart);
    pWs->EnableControl(IDC_CLIENT_BUTTON, true);
    EnableClientSettings(true);
}

void CKestrunDlg::OnMeterSample(uint64_t, uint64_t, const std::string& strRecvText,
                                const std::string& strSendText) {
    SetStatusPaneTextByName(kRecvPane, strRecvText);
    SetStatusPaneTextByName(kSendPane, strSendText);
}

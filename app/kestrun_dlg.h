// CKestrunDlg: the main window's behaviour (settings, data exchange, the four handlers,
// the server and client states), shared by every window system.
#pragma once

#include "app/settings_store.h"
#include "framework/vx_dialog.h"
#include "client/client_test.h"
#include "engine/engine.h"
#include "meter/meter.h"
#include "server/test_server.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

// Loads a "TEXT" resource (or the build's embedded copy): the bytes up to the first
// zero; empty when it does not exist.
using PFN_LoadTextResource = std::function<std::string(int nId)>;

class CKestrunDlg : public CVXDialog, public CEngineEvents {
public:
    static const char* const kSection;   // the settings' section
    static const char* const kRecvPane;  // the status pane of the received rate
    static const char* const kSendPane;  // the status pane of the sent rate
    static const char* const kDownload;  // the type item of a test that receives
    static const char* const kUpload;    // the type item of a test that sends
    static const char* const kMakerSite; // the maker's web site

    CKestrunDlg(CSettingsStore* pSettings, PFN_LoadTextResource fnLoadText);
    ~CKestrunDlg() override;

    bool OnInitDialog() override;
    void OnWindowSystemDetaching() override { StopWorkers(); }
    // Stops the meter, the server and the client test and waits for their threads, while
    // carrying out what they have queued for the window's thread (or refusing it, once
    // closing): a worker parked on this thread can always finish. Window's thread only.
    void StopWorkers();
    int OnQueryClose() override;
    void OnCommand(int nControlId) override;
    bool OnSysCommand(unsigned int nCommand) override;

    void OnServerButton();
    void OnClientButton();
    void OnWebTestButton();

    // Controls to members (bSaveAndValidate) or members to controls. Reading stops at
    // the first invalid entry, shows its message, focuses that control and returns false.
    bool UpdateData(bool bSaveAndValidate);

    // The settings of the window (read and saved by LoadSettings and SaveSettings, and
    // exchanged with the controls by UpdateData); runs and tests take copies.
    int m_nListenPort = 10001;
    std::string m_strServerAddr;
    int m_nServerPort = 10001;
    std::string m_strType;
    // Address the server binds; empty means every IPv4 interface.
    std::string m_strListenAddr;
    // The page texts, loaded once at initialisation.
    std::shared_ptr<const CPageTexts> m_pPageTexts = std::make_shared<const CPageTexts>();

    CTestServer& Server() { return m_server; }
    CClientTest& ClientTest() { return m_client; }
    // Where closing would end the process; tests replace it.
    std::function<void(int)> m_fnEndProcess;

    // ---- engine events, on worker threads ----
    void OnServerStarted() override;
    void OnServerError(const std::string& strErrorText) override;
    void OnServerStopped() override;
    void OnClientSessionStarted() override;
    void OnClientTestEnded(const std::string& strErrorText) override;
    void OnMeterSample(uint64_t nRecvBytes, uint64_t nSendBytes, const std::string& strRecvText,
                       const std::string& strSendText) override;

private:
    bool ReadPort(int nControlId, int& nMember);
    // The three controls of the client's settings (window's thread or a worker).
    void EnableClientSettings(bool bEnable);
    void LoadSettings();
    void SaveSettings();

    CSettingsStore* m_pSettings;
    // Set by a stop click; keeps a run that starts late from showing "停止" again.
    std::atomic<bool> m_bServerStopClicked{false};
    PFN_LoadTextResource m_fnLoadText;
    // Declared in this order so that the workers go before the state they share.
    CKestrunEngine m_engine;
    CMeter m_meter;
    CTestServer m_server;
    CClientTest m_client;
};

#include "app/kestrun_dlg.h"
#include "app/resource.h"

#include "fake_window_system.h"
#include "testkit/memory_settings_store.h"

#include <gtest/gtest.h>

namespace {

std::vector<int> AllControls() {
    return {IDC_SERVER_BUTTON, IDC_LISTEN_PORT, IDC_CLIENT_BUTTON, IDC_SERVER_ADDR,
            IDC_SERVER_PORT,   IDC_TYPE,        IDC_WEBTEST_BUTTON};
}

struct MainWindow : ::testing::Test {
    MainWindow() : ws(AllControls()) {}
    void Open() {
        pDlg.reset(new CKestrunDlg(&store, [this](int nId) {
            loadedIds.push_back(nId);
            return "text" + std::to_string(nId);
        }));
        pDlg->m_fnEndProcess = [this](int nCode) { nExitCode = nCode; };
        ws.SetDialog(pDlg.get());
        pDlg->AttachWindowSystem(&ws);
        ws.EnableControl(IDC_WEBTEST_BUTTON, false);
        ASSERT_TRUE(pDlg->OnInitDialog());
    }
    ~MainWindow() override {
        if (pDlg)
            pDlg->AttachWindowSystem(nullptr);
    }
    CMemorySettingsStore store;
    CFakeWindowSystem ws;
    std::unique_ptr<CKestrunDlg> pDlg;
    std::vector<int> loadedIds;
    int nExitCode = -1;
};

} // namespace

TEST_F(MainWindow, FirstRunShowsTheDefaults) {
    Open();
    EXPECT_EQ(ws.m_strCaption, "Tachyra - v18.0701");
    EXPECT_EQ(ws.Text(IDC_LISTEN_PORT), "10001");
    EXPECT_EQ(ws.Text(IDC_SERVER_ADDR), "127.0.0.1");
    EXPECT_EQ(ws.Text(IDC_SERVER_PORT), "10001");
    ASSERT_EQ(ws.ComboGetCount(IDC_TYPE), 2);
    int nSel = ws.ComboGetCurSel(IDC_TYPE);
    ASSERT_GE(nSel, 0);
    EXPECT_EQ(ws.ComboGetItemText(IDC_TYPE, nSel), "下载");
    EXPECT_EQ(ws.PartText(0), std::string("    接收") + "：0.00MB/s");
    EXPECT_EQ(ws.PartText(1), std::string("发送") + "：0.00MB/s");
    ASSERT_EQ(ws.m_vecSystemMenu.size(), 1u);
    EXPECT_EQ(ws.m_vecSystemMenu[0].first, 101u);
    EXPECT_EQ(ws.m_vecSystemMenu[0].second, "访问官网...");
    EXPECT_EQ(loadedIds, (std::vector<int>{131, 129, 130}));
    EXPECT_EQ(pDlg->m_pPageTexts->strPageHtml, "text131");
    EXPECT_EQ(pDlg->m_pPageTexts->strButtonsCss, "text129");
    EXPECT_EQ(pDlg->m_pPageTexts->strEchartsJs, "text130");
}

TEST_F(MainWindow, StoredTypePrefixSelectsAndUnmatchedSelectsNothing) {
    store.WriteString("Kestrun", "m_strType", "");
    Open();
    EXPECT_EQ(pDlg->m_strType, "下载"); // empty means download
    pDlg->AttachWindowSystem(nullptr);
    store.WriteString("Kestrun", "m_strType", "下");
    Open();
    EXPECT_EQ(ws.ComboGetItemText(IDC_TYPE, ws.ComboGetCurSel(IDC_TYPE)), "下载");
    pDlg->AttachWindowSystem(nullptr);
    pDlg.reset();

    store.WriteString("Kestrun", "m_strType", "sideways");
    CFakeWindowSystem ws2(AllControls());
    CKestrunDlg dlg(&store, nullptr);
    ws2.SetDialog(&dlg);
    dlg.AttachWindowSystem(&ws2);
    dlg.OnInitDialog();
    EXPECT_EQ(ws2.ComboGetCurSel(IDC_TYPE), -1);
    EXPECT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.m_strType, "");
    dlg.AttachWindowSystem(nullptr);
}

TEST_F(MainWindow, NonIntegerShowsThePlainMessageAndKeepsTheMember) {
    Open();
    ws.SetControlText(IDC_SERVER_ADDR, "host.example");
    ws.SetControlText(IDC_SERVER_PORT, "abc");
    EXPECT_FALSE(pDlg->UpdateData(true));
    auto boxes = ws.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].strText, "请输入一个整数。");
    EXPECT_EQ(boxes[0].icon, EVXBoxIcon::None);
    EXPECT_EQ(ws.m_nFocus, IDC_SERVER_PORT);
    EXPECT_EQ(pDlg->m_nServerPort, 10001);
    // Controls before the failing one were taken.
    EXPECT_EQ(pDlg->m_strServerAddr, "host.example");
}

TEST_F(MainWindow, OutOfRangeShowsTheWarningAndStoresTheNumber) {
    Open();
    ws.SetControlText(IDC_LISTEN_PORT, "65536");
    ws.SetControlText(IDC_SERVER_ADDR, "changed");
    EXPECT_FALSE(pDlg->UpdateData(true));
    auto boxes = ws.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].strText, "请输入一个在 1 和 65535 之间的整数。");
    EXPECT_EQ(boxes[0].icon, EVXBoxIcon::Warning);
    EXPECT_EQ(boxes[0].strCaption, "Tachyra");
    EXPECT_EQ(ws.m_nFocus, IDC_LISTEN_PORT);
    EXPECT_EQ(pDlg->m_nListenPort, 65536);
    // The exchange stopped before the address.
    EXPECT_EQ(pDlg->m_strServerAddr, "127.0.0.1");
}

TEST_F(MainWindow, PortBoxIsReadAsAtMost63Bytes) {
    Open();
    ws.SetControlText(IDC_LISTEN_PORT, std::string(63, '0') + "7");
    EXPECT_FALSE(pDlg->UpdateData(true)); // 63 zeros: 0 is out of range
    EXPECT_EQ(pDlg->m_nListenPort, 0);
}

TEST_F(MainWindow, InvalidRemotePortStartsNoServer) {
    Open();
    ws.SetControlText(IDC_SERVER_PORT, "0");
    pDlg->OnServerButton();
    EXPECT_FALSE(pDlg->Server().IsServerRunActive());
    EXPECT_EQ(ws.Boxes().size(), 1u);
}

TEST_F(MainWindow, CloseSavesInOrderAndEndsWithOne) {
    Open();
    ws.SetControlText(IDC_LISTEN_PORT, "70000");
    store.m_strWriteOrder.clear();
    EXPECT_EQ(pDlg->OnQueryClose(), 0);
    EXPECT_EQ(nExitCode, 1);
    EXPECT_EQ(store.m_strWriteOrder, "m_nListenPort;m_nServerPort;m_strServerAddr;m_strType;");
    EXPECT_EQ(store.ReadInt("Kestrun", "m_nListenPort", 0), 70000);
    EXPECT_EQ(store.ReadString("Kestrun", "m_strType", ""), "下载");
    EXPECT_EQ(ws.Boxes().size(), 1u); // the range message, then the close went on
}

TEST_F(MainWindow, SystemMenuItemAndWebTestOpenTheirPages) {
    store.WriteInt("Kestrun", "m_nListenPort", 12345);
    Open();
    EXPECT_TRUE(pDlg->OnSysCommand(101));
    EXPECT_FALSE(pDlg->OnSysCommand(0xF060)); // SC_CLOSE goes to the default processing
    pDlg->OnCommand(IDC_WEBTEST_BUTTON);
    EXPECT_EQ(ws.m_vecUrls, (std::vector<std::string>{"https://tachyra.example.org/",
                                                      "http://127.0.0.1:12345/"}));
}

TEST_F(MainWindow, MeterSamplesOnTheDialogThreadReachThePanes) {
    Open();
    pDlg->OnMeterSample(0, 0, "1.25MB/s", "2.50MB/s");
    EXPECT_EQ(ws.PartText(0), std::string("    接收") + "：1.25MB/s");
    EXPECT_EQ(ws.PartText(1), std::string("发送") + "：2.50MB/s");
}

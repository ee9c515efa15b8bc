#include "app/data_exchange.h"
#include "app/kestrun_dlg.h"
#include "app/resource.h"
#include "framework/fake_window_system.h"
#include "testkit/memory_settings_store.h"

#include <gtest/gtest.h>

struct MainWindow : ::testing::Test {
    // A new window over the same store; the old one's controls and boxes go with it.
    void Open() {
        if (pDlg) {
            pDlg->AttachWindowSystem(nullptr);
            ws.m_mapControls.clear();
            ws.m_vecBoxes.clear();
        }
        pDlg.reset(new CKestrunDlg(&store, [](int nId) { return "text" + std::to_string(nId); }));
        ws.m_pDialog = pDlg.get();
        pDlg->AttachWindowSystem(&ws);
        ASSERT_TRUE(pDlg->OnInitDialog());
    }
    CMemorySettingsStore store;
    CFakeWindowSystem ws;
    std::unique_ptr<CKestrunDlg> pDlg;
};

// A stored type prefix selects its first match and one that matches nothing selects nothing
// (the window scenarios); an empty one means download.
TEST_F(MainWindow, EachPageComesFromItsResourceAndAnEmptyStoredTypeSelectsDownload) {
    store.WriteString("Kestrun", "m_strType", "");
    Open();
    EXPECT_EQ(pDlg->m_pPageTexts->strPageHtml, "text131");
    EXPECT_EQ(pDlg->m_pPageTexts->strButtonsCss, "text129");
    EXPECT_EQ(pDlg->m_pPageTexts->strEchartsJs, "text130");
    EXPECT_TRUE(pDlg->UpdateData(true)); // the type as the combo box selects it
    EXPECT_EQ(pDlg->m_strType, "下载");
}

// Out of range; a number read as at most 63 bytes, so 63 zeros and a 7 are 0. Text that is
// no number and out-of-range numbers being kept are the window scenarios' checks.
TEST_F(MainWindow, InvalidPortShowsItsMessageFocusesTheBoxAndStartsNoServer) {
    const std::pair<int, std::string> rows[] = {{IDC_LISTEN_PORT, std::string(63, '0') + "7"},
                                                {IDC_SERVER_PORT, "0"}};
    for (const auto& [nId, strText] : rows) {
        SCOPED_TRACE(strText);
        Open();
        ws.SetControlText(IDC_SERVER_ADDR, "host.example");
        ws.SetControlText(nId, strText);
        EXPECT_FALSE(pDlg->UpdateData(true));
        auto boxes = ws.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].strText, "请输入一个在 1 和 65535 之间的整数。");
        EXPECT_EQ(boxes[0].icon, EVXBoxIcon::Warning);
        EXPECT_EQ(boxes[0].strCaption, "Tachyra");
        EXPECT_EQ(ws.m_nFocus, nId);
        EXPECT_EQ(pDlg->m_nListenPort, nId == IDC_LISTEN_PORT ? 0 : 10001);
        EXPECT_EQ(pDlg->m_nServerPort, nId == IDC_SERVER_PORT ? 0 : 10001);
        // The address box comes between the two ports.
        EXPECT_EQ(pDlg->m_strServerAddr, nId == IDC_SERVER_PORT ? "host.example" : "127.0.0.1");
        pDlg->OnServerButton(); // the same exchange fails again and starts no server
        EXPECT_FALSE(pDlg->Server().IsServerRunActive());
        EXPECT_EQ(ws.Boxes().size(), 2u);
    }
}

// The exchange trims blanks around a number, not within it (the number: support_test).
TEST(DataExchange, TrimsBlanksAroundANumber) {
    int n = 42;
    EXPECT_TRUE(ParseDialogInt(" \t-5\t ", n));
    EXPECT_EQ(n, -5);
    for (const char* psz : {"1 2", "  ", ""})
        EXPECT_FALSE(ParseDialogInt(psz, n)) << psz;
    EXPECT_EQ(n, -5);
}

#include "app/data_exchange.h"
#include "app/kestrun_dlg.h"
#include "app/resource.h"

#include "fake_window_system.h"
#include "testkit/memory_settings_store.h"

#include <gtest/gtest.h>

namespace {

const std::string kRangeText = "请输入一个在 1 和 65535 之间的整数。";

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

} // namespace

TEST_F(MainWindow, EachPageComesFromItsResource) {
    Open();
    EXPECT_EQ(pDlg->m_pPageTexts->strPageHtml, "text131");
    EXPECT_EQ(pDlg->m_pPageTexts->strButtonsCss, "text129");
    EXPECT_EQ(pDlg->m_pPageTexts->strEchartsJs, "text130");
}

TEST_F(MainWindow, StoredTypePrefixSelectsEmptyMeansDownloadAndUnmatchedSelectsNothing) {
    for (auto row : {std::make_pair("", "下载"), std::make_pair("下", "下载"),
                     std::make_pair("sideways", "")}) {
        SCOPED_TRACE(row.first);
        store.WriteString("Kestrun", "m_strType", row.first);
        Open();
        EXPECT_TRUE(pDlg->UpdateData(true)); // the type as the combo box selects it
        EXPECT_EQ(pDlg->m_strType, row.second);
    }
}

TEST_F(MainWindow, InvalidPortShowsItsMessageFocusesTheBoxAndStartsNoServer) {
    const struct {
        int nId;
        std::string strText, strBox;
        EVXBoxIcon icon;
        int nListenPort, nServerPort;
    } rows[] = {
        {IDC_SERVER_PORT, "abc", "请输入一个整数。", EVXBoxIcon::None, 10001, 10001},
        // Out of range: the number is stored all the same.
        {IDC_LISTEN_PORT, "65536", kRangeText, EVXBoxIcon::Warning, 65536, 10001},
        // Read as at most 63 bytes: 63 zeros are 0, which is out of range.
        {IDC_LISTEN_PORT, std::string(63, '0') + "7", kRangeText, EVXBoxIcon::Warning, 0, 10001},
        {IDC_SERVER_PORT, "0", kRangeText, EVXBoxIcon::Warning, 10001, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.strText);
        Open();
        ws.SetControlText(IDC_SERVER_ADDR, "host.example");
        ws.SetControlText(row.nId, row.strText);
        EXPECT_FALSE(pDlg->UpdateData(true));
        auto boxes = ws.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].strText, row.strBox);
        EXPECT_EQ(boxes[0].icon, row.icon);
        EXPECT_EQ(boxes[0].strCaption, "Tachyra");
        EXPECT_EQ(ws.m_nFocus, row.nId);
        EXPECT_EQ(pDlg->m_nListenPort, row.nListenPort);
        EXPECT_EQ(pDlg->m_nServerPort, row.nServerPort);
        // The address box comes between the two ports.
        EXPECT_EQ(pDlg->m_strServerAddr, row.nId == IDC_SERVER_PORT ? "host.example" : "127.0.0.1");
        pDlg->OnServerButton(); // the same exchange fails again and starts no server
        EXPECT_FALSE(pDlg->Server().IsServerRunActive());
        EXPECT_EQ(ws.Boxes().size(), 2u);
    }
}

// The exchange trims blanks around a number, not within it (the number itself is
// support/ascii.h's).
TEST(DataExchange, TrimsBlanksAroundANumber) {
    int n = 42;
    EXPECT_TRUE(ParseDialogInt(" \t-5\t ", n));
    EXPECT_EQ(n, -5);
    for (const char* psz : {"1 2", "  ", ""})
        EXPECT_FALSE(ParseDialogInt(psz, n)) << psz;
    EXPECT_EQ(n, -5);
}

// The GTK backend with a dialog of its own, in this process under a private Xvfb:
// layout, status panes and the close hook as a derived dialog sees them.
#include "framework/gtk/gtk_window_system.h"
#include "testkit/xvfb_display.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class CLayoutDialog : public CVXDialog {
public:
    CLayoutDialog() : CVXDialog(200) {}
    bool OnInitDialog() override {
        CVXDialog::OnInitDialog();
        SetAppInfo("Probe", "v1");
        CreateStatusBar();
        AddStatusPane("Abc", 50);
        AddStatusPane("", 10);
        return true;
    }
    void OnLayoutClient(int x, int y, int cx, int cy) override {
        ++nLayouts;
        aLast[0] = x;
        aLast[1] = y;
        aLast[2] = cx;
        aLast[3] = cy;
    }
    int OnQueryClose() override {
        ++nCloseQueries;
        return nCloseQueries >= 2 ? 1 : 0; // the first close is refused
    }
    int nLayouts = 0;
    int aLast[4] = {0, 0, 0, 0};
    int nCloseQueries = 0;
    // What the window showed once it was up, read on the main loop.
    CGtkWindowSystem* pWs = nullptr;
    std::string strPane0, strPane1, strCaption;
    int nWindowHeight = 0, nWindowWidth = 0, nStatusHeight = 0;
    bool bStillOpenAfterFirstClose = false;
};

CGtkDialogTemplate ProbeTemplate() {
    CGtkDialogTemplate tmpl;
    tmpl.strCaption = "Probe";
    tmpl.cx = 100;
    tmpl.cy = 80;
    tmpl.dFontPoints = 9;
    tmpl.controls = {
        {7, EGtkControlKind::Edit, "", 10, 10, 40, 13, true, false, false},
    };
    return tmpl;
}

} // namespace

TEST(GtkLayout, DerivedDialogGetsTheContentRectanglePanesAndTheCloseHook) {
    CXvfbDisplay display;
    std::string strError;
    ASSERT_TRUE(display.Start(strError)) << strError;
    setenv("DISPLAY", display.Name().c_str(), 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));

    CLayoutDialog dlg;
    // Nothing is laid out for the dialog before its initialisation has run.
    dlg.LayoutContent(0, 0, 100, 100);
    EXPECT_EQ(0, dlg.nLayouts);

    CGtkWindowSystem ws(&dlg, ProbeTemplate());
    dlg.pWs = &ws;
    // Once the window is up: read what it shows, then close it twice.
    g_timeout_add(
        200,
        +[](gpointer p) -> gboolean {
            auto* pDlg = static_cast<CLayoutDialog*>(p);
            if (pDlg->nLayouts == 0 || !gtk_widget_get_mapped(pDlg->pWs->Window()))
                return G_SOURCE_CONTINUE;
            pDlg->strPane0 = gtk_label_get_text(GTK_LABEL(pDlg->pWs->StatusPart(0)));
            pDlg->strPane1 = gtk_label_get_text(GTK_LABEL(pDlg->pWs->StatusPart(1)));
            pDlg->strCaption = gtk_window_get_title(GTK_WINDOW(pDlg->pWs->Window()));
            GtkWidget* pContent = gtk_bin_get_child(GTK_BIN(pDlg->pWs->Window()));
            pDlg->nWindowWidth = gtk_widget_get_allocated_width(pContent);
            pDlg->nWindowHeight = gtk_widget_get_allocated_height(pContent);
            pDlg->nStatusHeight =
                gtk_widget_get_allocated_height(pDlg->pWs->Control(IDC_VX_STATUSBAR));
            gtk_window_close(GTK_WINDOW(pDlg->pWs->Window()));
            pDlg->bStillOpenAfterFirstClose = gtk_widget_get_mapped(pDlg->pWs->Window());
            gtk_window_close(GTK_WINDOW(pDlg->pWs->Window()));
            return G_SOURCE_REMOVE;
        },
        &dlg);
    // A bound on the whole run: should the window never come up, it is closed anyway.
    guint nGuard = g_timeout_add_seconds(
        20,
        +[](gpointer p) -> gboolean {
            static_cast<CLayoutDialog*>(p)->nCloseQueries = 5;
            gtk_main_quit();
            return G_SOURCE_REMOVE;
        },
        &dlg);
    ws.RunModal();
    g_source_remove(nGuard);

    EXPECT_EQ("Probe - v1", dlg.strCaption);
    EXPECT_EQ("Abc：0.00MB/s", dlg.strPane0);
    EXPECT_EQ("0.00MB/s", dlg.strPane1); // a pane without a name shows its value alone
    EXPECT_TRUE(dlg.bStillOpenAfterFirstClose);
    EXPECT_EQ(2, dlg.nCloseQueries);
    ASSERT_GT(dlg.nLayouts, 0);
    // The content rectangle: the client area above the status bar, less 10 on each side.
    EXPECT_GT(dlg.nStatusHeight, 0);
    EXPECT_EQ(10, dlg.aLast[0]);
    EXPECT_EQ(10, dlg.aLast[1]);
    EXPECT_EQ(dlg.nWindowWidth - 20, dlg.aLast[2]);
    EXPECT_EQ(dlg.nWindowHeight - dlg.nStatusHeight - 20, dlg.aLast[3]);
}

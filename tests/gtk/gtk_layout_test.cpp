// The GTK backend with a dialog of its own, in this process under a private Xvfb:
// layout, status panes and the close hook as a derived dialog sees them.
#include "framework/gtk/gtk_window_system.h"
#include "testkit/xvfb_display.h"

#include <gtest/gtest.h>

#include <array>
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
        ++m_nLayouts;
        m_aLast = {x, y, cx, cy};
    }
    int OnQueryClose() override { return ++m_nCloseQueries >= 2 ? 1 : 0; } // refuses the first
    // Once the window is up: checks what it shows, then closes it twice.
    static gboolean CheckAndClose(gpointer p) {
        auto& dlg = *static_cast<CLayoutDialog*>(p);
        GtkWidget* pWindow = dlg.m_pWs->Window();
        if (dlg.m_nLayouts == 0 || !gtk_widget_get_mapped(pWindow))
            return G_SOURCE_CONTINUE;
        EXPECT_STREQ("Probe - v1", gtk_window_get_title(GTK_WINDOW(pWindow)));
        EXPECT_STREQ("Abc：0.00MB/s", gtk_label_get_text(GTK_LABEL(dlg.m_pWs->StatusPart(0))));
        // A pane without a name shows its value alone.
        EXPECT_STREQ("0.00MB/s", gtk_label_get_text(GTK_LABEL(dlg.m_pWs->StatusPart(1))));
        // The content rectangle: the client area above the status bar, less 10 on each side.
        GtkWidget* pContent = gtk_bin_get_child(GTK_BIN(pWindow));
        const int nStatus = gtk_widget_get_allocated_height(dlg.m_pWs->Control(IDC_VX_STATUSBAR));
        EXPECT_GT(nStatus, 0);
        EXPECT_EQ((std::array<int, 4>{10, 10, gtk_widget_get_allocated_width(pContent) - 20,
                                      gtk_widget_get_allocated_height(pContent) - nStatus - 20}),
                  dlg.m_aLast);
        gtk_window_close(GTK_WINDOW(pWindow));
        EXPECT_TRUE(gtk_widget_get_mapped(pWindow)); // the first close is refused
        gtk_window_close(GTK_WINDOW(pWindow));
        return G_SOURCE_REMOVE;
    }

    CGtkWindowSystem* m_pWs = nullptr;
    int m_nLayouts = 0;
    std::array<int, 4> m_aLast = {0, 0, 0, 0};
    int m_nCloseQueries = 0;
};

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
    EXPECT_EQ(0, dlg.m_nLayouts);
    CGtkWindowSystem ws(&dlg,
                        {"Probe",
                         100,
                         80,
                         9,
                         {{7, EGtkControlKind::Edit, "", 10, 10, 40, 13, true, false, false}}});
    dlg.m_pWs = &ws;
    g_timeout_add(200, &CLayoutDialog::CheckAndClose, &dlg);
    // A bound on the whole run: should the window never come up, it is closed anyway.
    guint nGuard = g_timeout_add_seconds(
        20,
        +[](gpointer p) -> gboolean {
            static_cast<CLayoutDialog*>(p)->m_nCloseQueries = 5;
            gtk_main_quit();
            return G_SOURCE_REMOVE;
        },
        &dlg);
    ws.RunModal();
    g_source_remove(nGuard);
    // Two closes reached the hook, and the window stayed after the first.
    EXPECT_EQ(2, dlg.m_nCloseQueries);
}

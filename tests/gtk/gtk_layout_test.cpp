// The GTK backend with a dialog of its own, in this process under a private Xvfb: the
// content rectangle and the close hook as a derived dialog sees them.
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
        CreateStatusBar();
        AddStatusPane("Abc", 50);
        return true;
    }
    void OnLayoutClient(int x, int y, int cx, int cy) override { m_aLast = {x, y, cx, cy}; }
    int OnQueryClose() override { return ++m_nCloseQueries >= 2 ? 1 : 0; } // refuses the first
    // Once the window is up: checks the content rectangle, then closes it twice.
    static gboolean CheckAndClose(gpointer p) {
        auto& dlg = *static_cast<CLayoutDialog*>(p);
        GtkWidget* pWindow = dlg.m_pWs->Window();
        if (dlg.m_aLast[2] == 0 || !gtk_widget_get_mapped(pWindow))
            return G_SOURCE_CONTINUE;
        // The client area above the status bar, less 10 on each side.
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
    // A bound on the whole run: should the window never close, the run ends anyway.
    static gboolean Expire(gpointer p) {
        static_cast<CLayoutDialog*>(p)->m_nCloseQueries = 5;
        gtk_main_quit();
        return G_SOURCE_REMOVE;
    }

    CGtkWindowSystem* m_pWs = nullptr;
    std::array<int, 4> m_aLast = {0, 0, 0, 0};
    int m_nCloseQueries = 0;
};

} // namespace

TEST(GtkLayout, DerivedDialogGetsTheContentRectangleAndTheCloseHook) {
    CXvfbDisplay display;
    std::string strError;
    ASSERT_TRUE(display.Start(strError)) << strError;
    setenv("DISPLAY", display.Name().c_str(), 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));

    CLayoutDialog dlg;
    CGtkWindowSystem ws(&dlg, {"Probe", 100, 80, 9, {}});
    dlg.m_pWs = &ws;
    g_timeout_add(200, &CLayoutDialog::CheckAndClose, &dlg);
    guint nGuard = g_timeout_add_seconds(20, &CLayoutDialog::Expire, &dlg);
    ws.RunModal();
    g_source_remove(nGuard);
    // Two closes reached the hook, and the window stayed after the first.
    EXPECT_EQ(2, dlg.m_nCloseQueries);
}

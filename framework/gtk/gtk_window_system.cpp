// The GTK 3 window of a framework dialog: controls placed from the template, the status
// bar, the keyboard rules, the close path, message boxes and the cross-thread channel.
#include "framework/gtk/gtk_window_system.h"

#include "support/format.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <unistd.h>

namespace {

const char* const kIdKey = "tachyra-control-id";
const char* const kCss = ".tachyra-dialog { font-size: 9pt; }\n"
                         ".tachyra-content entry { min-height: 0; padding-top: 0;"
                         " padding-bottom: 0; }\n"
                         ".tachyra-content button { min-height: 0; padding-top: 0;"
                         " padding-bottom: 0; }\n"
                         ".tachyra-statusbar label { padding: 1px 4px; }\n";

// Calls queued for the main loop, oldest first. Each queued call attaches one idle
// source, and each source runs the oldest call, so calls run in queue order whatever
// order GLib picks the sources in.
std::mutex g_csPosted;
std::deque<std::function<void()>> g_queuePosted;

gboolean RunOnePosted(gpointer) {
    std::function<void()> fn;
    {
        std::lock_guard<std::mutex> lock(g_csPosted);
        if (g_queuePosted.empty())
            return G_SOURCE_REMOVE;
        fn = std::move(g_queuePosted.front());
        g_queuePosted.pop_front();
    }
    fn();
    return G_SOURCE_REMOVE;
}

// One call handed to the main loop by a thread that waits for it.
struct CWaitable {
    std::mutex cs;
    std::condition_variable cv;
    bool bDone = false;
    void Done() {
        std::lock_guard<std::mutex> lock(cs);
        bDone = true;
        cv.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(cs);
        cv.wait(lock, [this] { return bDone; });
    }
};

std::string CutBytes(const char* psz, size_t nMax) {
    std::string str = psz != nullptr ? psz : "";
    if (str.size() > nMax)
        str.resize(nMax);
    return str;
}

int ControlIdOf(GtkWidget* pWidget) {
    for (GtkWidget* p = pWidget; p != nullptr; p = gtk_widget_get_parent(p)) {
        gpointer pId = g_object_get_data(G_OBJECT(p), kIdKey);
        if (pId != nullptr)
            return GPOINTER_TO_INT(pId);
    }
    return -1;
}

} // namespace

void CGtkWindowSystem::Post(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(g_csPosted);
        g_queuePosted.push_back(std::move(fn));
    }
    // An idle source attached to the default context always runs on the thread that
    // iterates it, never on the caller (g_main_context_invoke would run the call right
    // here while no thread owns the context, as during the dialog's initialisation).
    GSource* pSource = g_idle_source_new();
    g_source_set_priority(pSource, G_PRIORITY_DEFAULT);
    g_source_set_callback(pSource, RunOnePosted, nullptr, nullptr);
    g_source_attach(pSource, nullptr);
    g_source_unref(pSource);
}

CGtkWindowSystem::CGtkWindowSystem(CVXDialog* pDlg, CGtkDialogTemplate tmpl)
    : m_pDlg(pDlg), m_tmpl(std::move(tmpl)) {
    m_pDlg->AttachWindowSystem(this);
}

CGtkWindowSystem::~CGtkWindowSystem() {
    m_pDlg->OnWindowSystemDetaching();
    m_pDlg->AttachWindowSystem(nullptr);
    for (GdkPixbuf* p : m_vecIcons)
        g_object_unref(p);
    if (m_pCss != nullptr)
        g_object_unref(m_pCss);
}

void CGtkWindowSystem::SetIcons(std::vector<GdkPixbuf*> vecIcons) {
    for (GdkPixbuf* p : m_vecIcons)
        g_object_unref(p);
    m_vecIcons = std::move(vecIcons);
}

void CGtkWindowSystem::RunOnMainLoop(const std::function<void()>& fn) {
    if (m_pDlg->IsUIThread()) {
        fn();
        return;
    }
    CWaitable wait;
    Post([&fn, &wait] {
        fn();
        wait.Done();
    });
    wait.Wait();
}

void CGtkWindowSystem::RunPendingWork() {
    while (g_main_context_pending(nullptr))
        g_main_context_iteration(nullptr, FALSE);
}

void CGtkWindowSystem::ComputeBaseUnits() {
    // Dialog base units of the window's 9-point font: the average width of the Latin
    // letters and the font's height, as Windows computes them for a dialog font.
    GtkSettings* pSettings = gtk_settings_get_default();
    gchar* pszFont = nullptr;
    g_object_get(pSettings, "gtk-font-name", &pszFont, nullptr);
    PangoFontDescription* pDesc = pango_font_description_from_string(pszFont ? pszFont : "Sans");
    g_free(pszFont);
    pango_font_description_set_size(pDesc, static_cast<gint>(m_tmpl.dFontPoints * PANGO_SCALE));
    PangoLayout* pLayout = gtk_widget_create_pango_layout(
        m_pWindow, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    pango_layout_set_font_description(pLayout, pDesc);
    int nWidth = 0, nHeight = 0;
    pango_layout_get_pixel_size(pLayout, &nWidth, &nHeight);
    PangoFontMetrics* pMetrics =
        pango_context_get_metrics(pango_layout_get_context(pLayout), pDesc, nullptr);
    int nFontHeight = PANGO_PIXELS(pango_font_metrics_get_ascent(pMetrics) +
                                   pango_font_metrics_get_descent(pMetrics));
    pango_font_metrics_unref(pMetrics);
    g_object_unref(pLayout);
    pango_font_description_free(pDesc);
    if (nWidth > 0)
        m_nBaseX = ::BaseUnitX(nWidth);
    if (nFontHeight > 0)
        m_nBaseY = nFontHeight;
}

GtkWidget* CGtkWindowSystem::MakeControl(const CGtkControlDef& def) {
    GtkWidget* pWidget = nullptr;
    int cy = def.cy;
    switch (def.kind) {
    case EGtkControlKind::PushButton:
        pWidget = gtk_button_new_with_label(def.strText.c_str());
        g_signal_connect(pWidget, "clicked", G_CALLBACK(OnButtonClicked), this);
        break;
    case EGtkControlKind::Edit:
        pWidget = gtk_entry_new();
        gtk_entry_set_width_chars(GTK_ENTRY(pWidget), 1);
        gtk_entry_set_alignment(GTK_ENTRY(pWidget), 0.5f);
        gtk_entry_set_text(GTK_ENTRY(pWidget), def.strText.c_str());
        break;
    case EGtkControlKind::GroupBox:
        pWidget = gtk_frame_new(def.strText.c_str());
        break;
    case EGtkControlKind::Label:
        pWidget = gtk_label_new(def.strText.c_str());
        gtk_label_set_xalign(GTK_LABEL(pWidget), 0.0f);
        gtk_label_set_yalign(GTK_LABEL(pWidget), 0.5f);
        break;
    case EGtkControlKind::DropDownList:
        pWidget = gtk_combo_box_text_new();
        // The template's height includes the dropped-down list; the closed box is as high
        // as an edit box.
        cy = std::min(cy, 14);
        break;
    }
    gtk_widget_set_can_focus(pWidget, def.bTabStop);
    if (def.kind == EGtkControlKind::DropDownList)
        gtk_widget_set_focus_on_click(pWidget, TRUE);
    gtk_widget_set_sensitive(pWidget, !def.bDisabled);
    gtk_widget_set_size_request(pWidget, DluToPixelsX(def.cx, m_nBaseX),
                                DluToPixelsY(cy, m_nBaseY));
    if (def.nId >= 0)
        g_object_set_data(G_OBJECT(pWidget), kIdKey, GINT_TO_POINTER(def.nId));
    gtk_fixed_put(GTK_FIXED(m_pFixed), pWidget, DluToPixelsX(def.x, m_nBaseX),
                  DluToPixelsY(def.y, m_nBaseY));
    return pWidget;
}

void CGtkWindowSystem::AddMenuItem(GtkWidget* pMenu, const std::string& strText,
                                   std::function<void()> fn) {
    GtkWidget* pItem = strText.empty() ? gtk_separator_menu_item_new()
                                       : gtk_menu_item_new_with_label(strText.c_str());
    if (fn) {
        auto* pFn = new std::function<void()>(std::move(fn));
        g_signal_connect_data(
            pItem, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer p) {
                (*static_cast<std::function<void()>*>(p))();
            }),
            pFn, +[](gpointer p, GClosure*) { delete static_cast<std::function<void()>*>(p); },
            GConnectFlags(0));
    }
    gtk_widget_show(pItem);
    gtk_menu_shell_append(GTK_MENU_SHELL(pMenu), pItem);
}

void CGtkWindowSystem::Build() {
    m_pWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(m_pWindow), m_tmpl.strCaption.c_str());
    gtk_window_set_resizable(GTK_WINDOW(m_pWindow), FALSE);
    gtk_window_set_position(GTK_WINDOW(m_pWindow), GTK_WIN_POS_CENTER);
    gtk_style_context_add_class(gtk_widget_get_style_context(m_pWindow), "tachyra-dialog");
    m_pCss = gtk_css_provider_new();
    gtk_css_provider_load_from_data(m_pCss, kCss, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(m_pCss),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    // The title bar: caption, minimise and close, and the window menu that carries what
    // the system menu carries on Windows.
    m_pHeaderBar = gtk_header_bar_new();
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(m_pHeaderBar), TRUE);
    gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(m_pHeaderBar), ":minimize,close");
    gtk_header_bar_set_title(GTK_HEADER_BAR(m_pHeaderBar), m_tmpl.strCaption.c_str());
    m_pWindowMenu = gtk_menu_new();
    GtkWidget* pMenuButton = gtk_menu_button_new();
    gtk_menu_button_set_popup(GTK_MENU_BUTTON(pMenuButton), m_pWindowMenu);
    gtk_button_set_image(GTK_BUTTON(pMenuButton),
                         gtk_image_new_from_icon_name("open-menu-symbolic", GTK_ICON_SIZE_MENU));
    gtk_widget_set_can_focus(pMenuButton, FALSE);
    gtk_header_bar_pack_end(GTK_HEADER_BAR(m_pHeaderBar), pMenuButton);
    gtk_window_set_titlebar(GTK_WINDOW(m_pWindow), m_pHeaderBar);

    // The same items, with minimise and close, on a right click anywhere in the window.
    m_pContextMenu = gtk_menu_new();
    AddMenuItem(m_pContextMenu, "最小化", [this] { gtk_window_iconify(GTK_WINDOW(m_pWindow)); });
    AddMenuItem(m_pContextMenu, "关闭", [this] { gtk_window_close(GTK_WINDOW(m_pWindow)); });
    gtk_menu_attach_to_widget(GTK_MENU(m_pContextMenu), m_pWindow, nullptr);

    ComputeBaseUnits();

    m_pOverlay = gtk_overlay_new();
    m_pFixed = gtk_fixed_new();
    gtk_style_context_add_class(gtk_widget_get_style_context(m_pFixed), "tachyra-content");
    gtk_widget_set_size_request(m_pFixed, DluToPixelsX(m_tmpl.cx, m_nBaseX),
                                DluToPixelsY(m_tmpl.cy, m_nBaseY));
    gtk_container_add(GTK_CONTAINER(m_pOverlay), m_pFixed);
    gtk_container_add(GTK_CONTAINER(m_pWindow), m_pOverlay);

    GList* pChain = nullptr;
    for (const CGtkControlDef& def : m_tmpl.controls) {
        GtkWidget* pWidget = MakeControl(def);
        if (def.nId >= 0)
            m_mapControls[def.nId] = pWidget;
        if (def.bTabStop) {
            pChain = g_list_append(pChain, pWidget);
            m_vecTabOrder.push_back(def.nId);
        }
    }
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_focus_chain(GTK_CONTAINER(m_pFixed), pChain);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_list_free(pChain);

    m_pStatusBar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
    gtk_style_context_add_class(gtk_widget_get_style_context(m_pStatusBar), "tachyra-statusbar");
    gtk_widget_set_valign(m_pStatusBar, GTK_ALIGN_END);
    gtk_widget_set_halign(m_pStatusBar, GTK_ALIGN_FILL);
    gtk_widget_set_no_show_all(m_pStatusBar, TRUE);
    g_object_set_data(G_OBJECT(m_pStatusBar), kIdKey, GINT_TO_POINTER(IDC_VX_STATUSBAR));
    gtk_overlay_add_overlay(GTK_OVERLAY(m_pOverlay), m_pStatusBar);

    gtk_widget_add_events(m_pWindow, GDK_BUTTON_PRESS_MASK | GDK_KEY_PRESS_MASK);
    g_signal_connect(m_pWindow, "delete-event", G_CALLBACK(OnDeleteEvent), this);
    g_signal_connect(m_pWindow, "destroy", G_CALLBACK(OnDestroy), this);
    g_signal_connect(m_pWindow, "key-press-event", G_CALLBACK(OnKeyPress), this);
    g_signal_connect(m_pWindow, "button-press-event", G_CALLBACK(OnButtonPress), this);
    g_signal_connect(m_pOverlay, "size-allocate", G_CALLBACK(OnContentAllocate), this);
}

void CGtkWindowSystem::RunModal() {
    Build();
    gtk_widget_show_all(m_pOverlay);
    if (m_pDlg->OnInitDialog() && !m_vecTabOrder.empty())
        gtk_widget_grab_focus(Control(m_vecTabOrder.front()));
    gtk_widget_show_all(m_pWindow);
    if (!m_bDestroyed)
        gtk_main();
}

// ---- the window's events ----

gboolean CGtkWindowSystem::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer pThis) {
    // The title bar's close button, Alt+F4 and the menus' Close all arrive here; the
    // dialog decides. TRUE keeps the window.
    auto* pWs = static_cast<CGtkWindowSystem*>(pThis);
    return pWs->m_pDlg->OnCancel() ? FALSE : TRUE;
}

void CGtkWindowSystem::OnDestroy(GtkWidget*, gpointer pThis) {
    auto* pWs = static_cast<CGtkWindowSystem*>(pThis);
    pWs->m_bDestroyed = true;
    pWs->m_pDlg->OnDestroyBegin();
    if (pWs->m_nTimer != 0) {
        g_source_remove(pWs->m_nTimer);
        pWs->m_nTimer = 0;
    }
    // Commands still queued reach the dialog, which releases them without acting.
    while (g_main_context_pending(nullptr))
        g_main_context_iteration(nullptr, FALSE);
    if (gtk_main_level() > 0)
        gtk_main_quit();
}

gboolean CGtkWindowSystem::OnKeyPress(GtkWidget*, GdkEventKey* pEvent, gpointer pThis) {
    auto* pWs = static_cast<CGtkWindowSystem*>(pThis);
    const guint nMods = pEvent->state & gtk_accelerator_get_default_mod_mask();
    // Esc and Enter never reach the dialog's controls, so neither can close or activate
    // anything. With Alt they are system keys and pass.
    switch (pEvent->keyval) {
    case GDK_KEY_Escape:
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
        if ((nMods & GDK_MOD1_MASK) == 0)
            return TRUE;
        break;
    default:
        break;
    }
    // Ctrl+A (not with Shift or Alt) selects the whole text of the focused entry.
    if (gdk_keyval_to_lower(pEvent->keyval) == GDK_KEY_a && nMods == GDK_CONTROL_MASK) {
        GtkWidget* pFocus = gtk_window_get_focus(GTK_WINDOW(pWs->m_pWindow));
        if (pFocus != nullptr && GTK_IS_ENTRY(pFocus)) {
            gtk_editable_select_region(GTK_EDITABLE(pFocus), 0, -1);
            return TRUE;
        }
    }
    return FALSE;
}

gboolean CGtkWindowSystem::OnButtonPress(GtkWidget*, GdkEventButton* pEvent, gpointer pThis) {
    auto* pWs = static_cast<CGtkWindowSystem*>(pThis);
    if (pEvent->type == GDK_BUTTON_PRESS && pEvent->button == GDK_BUTTON_SECONDARY) {
        gtk_menu_popup_at_pointer(GTK_MENU(pWs->m_pContextMenu),
                                  reinterpret_cast<GdkEvent*>(pEvent));
        return TRUE;
    }
    return FALSE;
}

void CGtkWindowSystem::OnContentAllocate(GtkWidget*, GdkRectangle*, gpointer pThis) {
    static_cast<CGtkWindowSystem*>(pThis)->LayoutNow();
}

void CGtkWindowSystem::LayoutNow() {
    // The status bar lies along the bottom of the client area; the dialog gets the rest
    // inside its margins.
    GtkAllocation all;
    gtk_widget_get_allocation(m_pOverlay, &all);
    int nBottom = all.height;
    if (StatusBarVisible()) {
        GtkAllocation bar;
        gtk_widget_get_allocation(m_pStatusBar, &bar);
        nBottom -= bar.height;
    }
    int rc[4] = {0, 0, all.width, nBottom};
    if (std::equal(rc, rc + 4, m_nLastLayout))
        return;
    std::copy(rc, rc + 4, m_nLastLayout);
    m_pDlg->LayoutContent(rc[0], rc[1], rc[2], rc[3]);
}

void CGtkWindowSystem::OnButtonClicked(GtkButton* pButton, gpointer pThis) {
    auto* pWs = static_cast<CGtkWindowSystem*>(pThis);
    pWs->m_pDlg->OnCommand(ControlIdOf(GTK_WIDGET(pButton)));
}

gboolean CGtkWindowSystem::OnStatusTimer(gpointer pThis) {
    // The status timer has no work of its own in this program; it only ticks.
    ++static_cast<CGtkWindowSystem*>(pThis)->m_nTimerTicks;
    return G_SOURCE_CONTINUE;
}

// ---- any thread ----

void CGtkWindowSystem::SetControlText(int nId, const std::string& strText) {
    RunOnMainLoop([this, nId, &strText] {
        GtkWidget* p = Control(nId);
        if (p == nullptr)
            return;
        if (GTK_IS_ENTRY(p))
            gtk_entry_set_text(GTK_ENTRY(p), strText.c_str());
        else if (GTK_IS_BUTTON(p))
            gtk_button_set_label(GTK_BUTTON(p), strText.c_str());
        else if (GTK_IS_FRAME(p))
            gtk_frame_set_label(GTK_FRAME(p), strText.c_str());
        else if (GTK_IS_LABEL(p))
            gtk_label_set_text(GTK_LABEL(p), strText.c_str());
    });
}

void CGtkWindowSystem::EnableControl(int nId, bool bEnable) {
    RunOnMainLoop([this, nId, bEnable] {
        GtkWidget* p = Control(nId);
        if (p != nullptr)
            gtk_widget_set_sensitive(p, bEnable);
    });
}

GtkWidget* CGtkWindowSystem::CreateMessageBox(const std::string& strText,
                                              const std::string& strCaption, EVXBoxIcon icon) {
    GtkMessageType type = icon == EVXBoxIcon::Warning ? GTK_MESSAGE_WARNING
                          : icon == EVXBoxIcon::Error ? GTK_MESSAGE_ERROR
                                                      : GTK_MESSAGE_OTHER;
    GtkWindow* pParent = m_pWindow != nullptr && !m_bDestroyed ? GTK_WINDOW(m_pWindow) : nullptr;
    GtkWidget* pBox = gtk_message_dialog_new(pParent, GTK_DIALOG_MODAL, type, GTK_BUTTONS_OK, "%s",
                                             strText.c_str());
    gtk_window_set_title(GTK_WINDOW(pBox), strCaption.c_str());
    gtk_window_set_modal(GTK_WINDOW(pBox), TRUE);
    m_vecBoxes.push_back(pBox);
    g_signal_connect(pBox, "destroy", G_CALLBACK(+[](GtkWidget* pW, gpointer p) {
                         auto& vec = static_cast<CGtkWindowSystem*>(p)->m_vecBoxes;
                         vec.erase(std::remove(vec.begin(), vec.end(), pW), vec.end());
                     }),
                     this);
    return pBox;
}

void CGtkWindowSystem::ShowMessageBox(const std::string& strText, const std::string& strCaption,
                                      EVXBoxIcon icon) {
    if (m_pDlg->IsUIThread()) {
        GtkWidget* pBox = CreateMessageBox(strText, strCaption, icon);
        gtk_dialog_run(GTK_DIALOG(pBox));
        gtk_widget_destroy(pBox);
        return;
    }
    // A worker's box: the main loop shows it and goes on; the worker waits for the answer.
    // Once the window is closing nobody is there to answer: the box is dropped.
    if (m_pDlg->IsClosing())
        return;
    CWaitable wait;
    Post([this, &strText, &strCaption, icon, &wait] {
        if (m_pDlg->IsClosing()) {
            wait.Done();
            return;
        }
        GtkWidget* pBox = CreateMessageBox(strText, strCaption, icon);
        g_signal_connect(pBox, "response", G_CALLBACK(+[](GtkDialog* pD, gint, gpointer) {
                             gtk_widget_destroy(GTK_WIDGET(pD));
                         }),
                         nullptr);
        g_signal_connect(
            pBox, "destroy",
            G_CALLBACK(+[](GtkWidget*, gpointer p) { static_cast<CWaitable*>(p)->Done(); }), &wait);
        gtk_widget_show_all(pBox);
    });
    wait.Wait();
}

bool CGtkWindowSystem::PostVXMessage(unsigned int nMsg, _VX_COMMAND_MSG* pRecord) {
    CVXDialog* pDlg = m_pDlg;
    Post([pDlg, nMsg, pRecord] { pDlg->WindowProcVX(nMsg, pRecord); });
    return true;
}

bool CGtkWindowSystem::HasControl(int nId) {
    return m_mapControls.count(nId) != 0 || (nId == IDC_VX_STATUSBAR && m_pStatusBar != nullptr);
}

// ---- dialog's thread ----

GtkWidget* CGtkWindowSystem::Control(int nId) const {
    if (nId == IDC_VX_STATUSBAR)
        return m_pStatusBar;
    auto it = m_mapControls.find(nId);
    return it == m_mapControls.end() ? nullptr : it->second;
}

std::string CGtkWindowSystem::GetControlText(int nId, size_t nMaxBytes) {
    GtkWidget* p = Control(nId);
    if (p == nullptr)
        return std::string();
    if (GTK_IS_ENTRY(p))
        return CutBytes(gtk_entry_get_text(GTK_ENTRY(p)), nMaxBytes);
    if (GTK_IS_COMBO_BOX_TEXT(p)) {
        gchar* psz = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(p));
        std::string str = CutBytes(psz, nMaxBytes);
        g_free(psz);
        return str;
    }
    if (GTK_IS_BUTTON(p))
        return CutBytes(gtk_button_get_label(GTK_BUTTON(p)), nMaxBytes);
    if (GTK_IS_FRAME(p))
        return CutBytes(gtk_frame_get_label(GTK_FRAME(p)), nMaxBytes);
    if (GTK_IS_LABEL(p))
        return CutBytes(gtk_label_get_text(GTK_LABEL(p)), nMaxBytes);
    return std::string();
}

bool CGtkWindowSystem::IsControlEnabled(int nId) {
    GtkWidget* p = Control(nId);
    return p != nullptr && gtk_widget_get_sensitive(p);
}

void CGtkWindowSystem::FocusControl(int nId) {
    GtkWidget* p = Control(nId);
    if (p != nullptr)
        gtk_widget_grab_focus(p);
}

void CGtkWindowSystem::SetCaption(const std::string& strText) {
    if (m_pWindow == nullptr)
        return;
    gtk_window_set_title(GTK_WINDOW(m_pWindow), strText.c_str());
    gtk_header_bar_set_title(GTK_HEADER_BAR(m_pHeaderBar), strText.c_str());
}

void CGtkWindowSystem::ComboAddItem(int nId, const std::string& strText) {
    GtkWidget* p = Control(nId);
    if (p == nullptr || !GTK_IS_COMBO_BOX_TEXT(p))
        return;
    bool bSorted = false;
    for (const CGtkControlDef& def : m_tmpl.controls) {
        if (def.nId == nId)
            bSorted = def.bSorted;
    }
    int nPos = ComboGetCount(nId);
    if (bSorted) {
        for (int i = 0; i < ComboGetCount(nId); ++i) {
            if (g_utf8_collate(strText.c_str(), ComboGetItemText(nId, i).c_str()) < 0) {
                nPos = i;
                break;
            }
        }
    }
    gtk_combo_box_text_insert_text(GTK_COMBO_BOX_TEXT(p), nPos, strText.c_str());
}

int CGtkWindowSystem::ComboGetCount(int nId) {
    GtkWidget* p = Control(nId);
    if (p == nullptr || !GTK_IS_COMBO_BOX(p))
        return 0;
    return gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(p)), nullptr);
}

std::string CGtkWindowSystem::ComboGetItemText(int nId, int nIndex) {
    GtkWidget* p = Control(nId);
    if (p == nullptr || !GTK_IS_COMBO_BOX_TEXT(p))
        return std::string();
    GtkTreeModel* pModel = gtk_combo_box_get_model(GTK_COMBO_BOX(p));
    GtkTreeIter iter;
    if (!gtk_tree_model_iter_nth_child(pModel, &iter, nullptr, nIndex))
        return std::string();
    gchar* psz = nullptr;
    gtk_tree_model_get(pModel, &iter, gtk_combo_box_get_entry_text_column(GTK_COMBO_BOX(p)), &psz,
                       -1);
    std::string str = psz != nullptr ? psz : "";
    g_free(psz);
    return str;
}

int CGtkWindowSystem::ComboGetCurSel(int nId) {
    GtkWidget* p = Control(nId);
    return p != nullptr && GTK_IS_COMBO_BOX(p) ? gtk_combo_box_get_active(GTK_COMBO_BOX(p)) : -1;
}

void CGtkWindowSystem::ComboSetCurSel(int nId, int nIndex) {
    GtkWidget* p = Control(nId);
    if (p != nullptr && GTK_IS_COMBO_BOX(p))
        gtk_combo_box_set_active(GTK_COMBO_BOX(p), nIndex);
}

void CGtkWindowSystem::AppendSystemMenuItem(unsigned int nCommand, const std::string& strText) {
    CVXDialog* pDlg = m_pDlg;
    auto fn = [pDlg, nCommand] { pDlg->OnSysCommand(nCommand); };
    AddMenuItem(m_pWindowMenu, strText, fn);
    AddMenuItem(m_pContextMenu, std::string(), nullptr);
    AddMenuItem(m_pContextMenu, strText, fn);
}

void CGtkWindowSystem::OpenUrl(const std::string& strUrl) {
    // The desktop's default handler; as with the shell on Windows, a failure is not shown
    // to the user, only traced.
    GError* pError = nullptr;
    if (!gtk_show_uri_on_window(GTK_WINDOW(m_pWindow), strUrl.c_str(), GDK_CURRENT_TIME, &pError)) {
        TraceDebug("cannot open %s: %s", strUrl.c_str(),
                   pError != nullptr ? pError->message : "unknown error");
        g_clear_error(&pError);
    }
}

void CGtkWindowSystem::SetWindowIcons() {
    if (m_vecIcons.empty()) {
        gtk_window_set_icon_name(GTK_WINDOW(m_pWindow), "tachyra");
        return;
    }
    GList* pList = nullptr;
    for (GdkPixbuf* p : m_vecIcons)
        pList = g_list_append(pList, p);
    gtk_window_set_icon_list(GTK_WINDOW(m_pWindow), pList);
    g_list_free(pList);
}

void CGtkWindowSystem::CreateToolTip() {
    // GTK shows tooltips per widget; nothing to create beyond switching them on.
    m_bToolTips = true;
}

void CGtkWindowSystem::StartStatusTimer(unsigned int, unsigned int nMilliseconds) {
    if (m_nTimer == 0)
        m_nTimer = g_timeout_add(nMilliseconds, OnStatusTimer, this);
}

bool CGtkWindowSystem::CreateStatusBar() {
    if (m_pStatusBar == nullptr)
        return false;
    gtk_widget_set_no_show_all(m_pStatusBar, FALSE);
    gtk_widget_show_all(m_pStatusBar);
    return true;
}

bool CGtkWindowSystem::StatusBarVisible() const {
    return m_pStatusBar != nullptr && gtk_widget_get_visible(m_pStatusBar);
}

GtkWidget* CGtkWindowSystem::StatusPart(int nPart) const {
    if (nPart < 0 || nPart >= static_cast<int>(m_vecParts.size()))
        return nullptr;
    return m_vecParts[static_cast<size_t>(nPart)];
}

void CGtkWindowSystem::SetStatusParts(const std::vector<int>& vecRightEdges) {
    for (GtkWidget* pLabel : m_vecParts)
        gtk_widget_destroy(gtk_widget_get_parent(pLabel));
    m_vecParts.clear();
    m_vecPartTips.assign(vecRightEdges.size(), std::string());
    int nLeft = 0;
    for (size_t i = 0; i < vecRightEdges.size(); ++i) {
        GtkWidget* pFrame = gtk_frame_new(nullptr);
        gtk_frame_set_shadow_type(GTK_FRAME(pFrame), GTK_SHADOW_IN);
        GtkWidget* pLabel = gtk_label_new("");
        gtk_label_set_xalign(GTK_LABEL(pLabel), 0.0f);
        gtk_label_set_ellipsize(GTK_LABEL(pLabel), PANGO_ELLIPSIZE_END);
        gtk_container_add(GTK_CONTAINER(pFrame), pLabel);
        const int nEdge = vecRightEdges[i];
        if (nEdge < 0) {
            // The last part reaches the right border.
            gtk_box_pack_start(GTK_BOX(m_pStatusBar), pFrame, TRUE, TRUE, 0);
        } else {
            gtk_widget_set_size_request(pFrame, std::max(0, nEdge - nLeft), -1);
            gtk_box_pack_start(GTK_BOX(m_pStatusBar), pFrame, FALSE, FALSE, 0);
            nLeft = nEdge;
        }
        gtk_widget_show_all(pFrame);
        m_vecParts.push_back(pLabel);
    }
}

void CGtkWindowSystem::SetStatusPartText(int nPart, const std::string& strText) {
    GtkWidget* pLabel = StatusPart(nPart);
    if (pLabel != nullptr)
        gtk_label_set_text(GTK_LABEL(pLabel), strText.c_str());
}

void CGtkWindowSystem::SetStatusPartTip(int nPart, const std::string& strTip) {
    GtkWidget* pLabel = StatusPart(nPart);
    if (pLabel == nullptr)
        return;
    m_vecPartTips[static_cast<size_t>(nPart)] = strTip;
    // A part without a tip text shows no tooltip.
    const bool bShow = m_bStatusTips && !strTip.empty();
    gtk_widget_set_tooltip_text(gtk_widget_get_parent(pLabel), bShow ? strTip.c_str() : nullptr);
}

bool CGtkWindowSystem::AddToolTip(int nControlId, const std::string* pText, int) {
    if (!m_bToolTips)
        return false;
    GtkWidget* p = Control(nControlId);
    if (p == nullptr)
        return false;
    if (nControlId == IDC_VX_STATUSBAR && pText == nullptr) {
        // The status bar's tips come from its parts.
        m_bStatusTips = true;
        for (size_t i = 0; i < m_vecParts.size(); ++i)
            SetStatusPartTip(static_cast<int>(i), m_vecPartTips[i]);
        return true;
    }
    gtk_widget_set_tooltip_text(p, pText != nullptr ? pText->c_str() : nullptr);
    return true;
}

void CGtkWindowSystem::EndProcess(int nExitCode) {
    // At once, as TerminateProcess would: no destructors, no handlers, nothing stopped.
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(nExitCode);
}

// ---- inspection ----

int CGtkWindowSystem::FocusedControlId() const {
    if (m_pWindow == nullptr)
        return -1;
    GtkWidget* pFocus = gtk_window_get_focus(GTK_WINDOW(m_pWindow));
    return pFocus != nullptr ? ControlIdOf(pFocus) : -1;
}

std::vector<int> CGtkWindowSystem::TabOrder() const {
    return m_vecTabOrder;
}

std::vector<std::string> CGtkWindowSystem::MenuItemTexts(bool bContextMenu) const {
    std::vector<std::string> vec;
    GList* pItems =
        gtk_container_get_children(GTK_CONTAINER(bContextMenu ? m_pContextMenu : m_pWindowMenu));
    for (GList* p = pItems; p != nullptr; p = p->next) {
        const gchar* psz = GTK_IS_MENU_ITEM(p->data) && !GTK_IS_SEPARATOR_MENU_ITEM(p->data)
                               ? gtk_menu_item_get_label(GTK_MENU_ITEM(p->data))
                               : nullptr;
        vec.push_back(psz != nullptr ? psz : "-");
    }
    g_list_free(pItems);
    return vec;
}

bool CGtkWindowSystem::ActivateMenuItem(bool bContextMenu, const std::string& strText) {
    GList* pItems =
        gtk_container_get_children(GTK_CONTAINER(bContextMenu ? m_pContextMenu : m_pWindowMenu));
    GtkWidget* pFound = nullptr;
    for (GList* p = pItems; p != nullptr && pFound == nullptr; p = p->next) {
        const gchar* psz =
            GTK_IS_MENU_ITEM(p->data) ? gtk_menu_item_get_label(GTK_MENU_ITEM(p->data)) : nullptr;
        if (psz != nullptr && strText == psz)
            pFound = GTK_WIDGET(p->data);
    }
    g_list_free(pItems);
    if (pFound == nullptr)
        return false;
    gtk_menu_item_activate(GTK_MENU_ITEM(pFound));
    return true;
}

GtkWidget* CGtkWindowSystem::CloseButton() const {
    // The header bar builds its close button itself, as an internal child: find it by
    // its style classes among every descendant, internal ones included.
    std::vector<GtkWidget*> vecTodo{m_pHeaderBar};
    while (!vecTodo.empty()) {
        GtkWidget* p = vecTodo.back();
        vecTodo.pop_back();
        GtkStyleContext* pStyle = gtk_widget_get_style_context(p);
        if (GTK_IS_BUTTON(p) && gtk_style_context_has_class(pStyle, "titlebutton") &&
            gtk_style_context_has_class(pStyle, "close"))
            return p;
        if (GTK_IS_CONTAINER(p)) {
            gtk_container_forall(
                GTK_CONTAINER(p),
                +[](GtkWidget* pChild, gpointer pVec) {
                    static_cast<std::vector<GtkWidget*>*>(pVec)->push_back(pChild);
                },
                &vecTodo);
        }
    }
    return nullptr;
}

// The window tests' control channel (see the header for the protocol).
#include "framework/gtk/gtk_test_hook.h"

#include "framework/gtk/gtk_window_system.h"

#include <gdk/gdkx.h>
#include <glib-unix.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace {

struct CHookState {
    CGtkWindowSystem* pWs;
    int fd;
    std::string strPending;
};

std::string Ok(const std::string& strPayload = std::string()) {
    return strPayload.empty() ? "ok" : "ok " + EscapeTestPayload(strPayload);
}

bool ParseId(const std::string& strArg, int& nId) {
    char* pEnd = nullptr;
    long n = std::strtol(strArg.c_str(), &pEnd, 10);
    if (strArg.empty() || *pEnd != '\0')
        return false;
    nId = static_cast<int>(n);
    return true;
}

const char* MessageKind(GtkWidget* pBox) {
    GtkMessageType type = GTK_MESSAGE_OTHER;
    g_object_get(pBox, "message-type", &type, nullptr);
    switch (type) {
    case GTK_MESSAGE_WARNING:
        return "warning";
    case GTK_MESSAGE_ERROR:
        return "error";
    case GTK_MESSAGE_INFO:
        return "info";
    case GTK_MESSAGE_QUESTION:
        return "question";
    default:
        return "plain";
    }
}

std::string Join(const std::vector<std::string>& vec, const char* pszSep) {
    std::string str;
    for (size_t i = 0; i < vec.size(); ++i)
        str += (i ? pszSep : "") + vec[i];
    return str;
}

gboolean OnReadable(gint fd, GIOCondition cond, gpointer pData) {
    auto* pState = static_cast<CHookState*>(pData);
    char szBuf[4096];
    ssize_t n = (cond & G_IO_IN) ? read(fd, szBuf, sizeof(szBuf)) : 0;
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return G_SOURCE_CONTINUE;
    if (n <= 0) {
        // The runner has gone: so has the reason for the channel.
        close(fd);
        delete pState;
        return G_SOURCE_REMOVE;
    }
    pState->strPending.append(szBuf, static_cast<size_t>(n));
    size_t nEol;
    while ((nEol = pState->strPending.find('\n')) != std::string::npos) {
        std::string strLine = pState->strPending.substr(0, nEol);
        pState->strPending.erase(0, nEol + 1);
        std::string strReply = HandleGtkTestRequest(pState->pWs, strLine) + "\n";
        size_t nDone = 0;
        while (nDone < strReply.size()) {
            ssize_t w = write(fd, strReply.data() + nDone, strReply.size() - nDone);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                break;
            nDone += static_cast<size_t>(w);
        }
    }
    return G_SOURCE_CONTINUE;
}

} // namespace

std::string EscapeTestPayload(const std::string& strText) {
    std::string str;
    for (char ch : strText) {
        if (ch == '\\')
            str += "\\\\";
        else if (ch == '\n')
            str += "\\n";
        else if (ch == '\t')
            str += "\\t";
        else
            str += ch;
    }
    return str;
}

std::string HandleGtkTestRequest(CGtkWindowSystem* pWs, const std::string& strLine) {
    std::string strCmd = strLine, strRest;
    size_t nSpace = strLine.find(' ');
    if (nSpace != std::string::npos) {
        strCmd = strLine.substr(0, nSpace);
        strRest = strLine.substr(nSpace + 1);
    }
    // Most commands take a control id, some a text after it.
    std::string strIdArg = strRest, strText;
    nSpace = strRest.find(' ');
    if (nSpace != std::string::npos) {
        strIdArg = strRest.substr(0, nSpace);
        strText = strRest.substr(nSpace + 1);
    }
    int nId = 0;
    const bool bHasId = ParseId(strIdArg, nId);
    GtkWidget* pWindow = pWs->Window();
    if (pWindow == nullptr)
        return "err no window";

    if (strCmd == "caption")
        return Ok(gtk_window_get_title(GTK_WINDOW(pWindow)));
    if (strCmd == "xid") {
        GdkWindow* pGdk = gtk_widget_get_window(pWindow);
        if (pGdk == nullptr || !GDK_IS_X11_WINDOW(pGdk))
            return "err not an X11 window";
        return Ok(std::to_string(GDK_WINDOW_XID(pGdk)));
    }
    if (strCmd == "icons") {
        // The sizes of the window's icons.
        std::vector<std::string> vec;
        GList* pList = gtk_window_get_icon_list(GTK_WINDOW(pWindow));
        for (GList* p = pList; p != nullptr; p = p->next)
            vec.push_back(std::to_string(gdk_pixbuf_get_width(GDK_PIXBUF(p->data))));
        g_list_free(pList);
        return Ok(Join(vec, " "));
    }
    if (strCmd == "active")
        return Ok(gtk_window_is_active(GTK_WINDOW(pWindow)) ? "1" : "0");
    if (strCmd == "mapped")
        return Ok(gtk_widget_get_mapped(pWindow) ? "1" : "0");
    if (strCmd == "focus")
        return Ok(std::to_string(pWs->FocusedControlId()));
    if (strCmd == "taborder") {
        std::vector<std::string> vec;
        for (int n : pWs->TabOrder())
            vec.push_back(std::to_string(n));
        return Ok(Join(vec, " "));
    }
    if (strCmd == "timer")
        return Ok(std::to_string(pWs->StatusTimerTicks()));
    if (strCmd == "baseunits")
        return Ok(std::to_string(pWs->BaseUnitX()) + " " + std::to_string(pWs->BaseUnitY()));
    if (strCmd == "panes")
        return Ok(std::to_string(pWs->StatusPartCount()) +
                  (pWs->StatusBarVisible() ? " visible" : " hidden"));
    if (strCmd == "pane" || strCmd == "panetip" || strCmd == "panegeometry") {
        GtkWidget* pLabel = bHasId ? pWs->StatusPart(nId) : nullptr;
        if (pLabel == nullptr)
            return "err no such pane";
        GtkWidget* pFrame = gtk_widget_get_parent(pLabel);
        if (strCmd == "pane")
            return Ok(gtk_label_get_text(GTK_LABEL(pLabel)));
        if (strCmd == "panetip") {
            gchar* psz = gtk_widget_get_tooltip_text(pFrame);
            std::string str = psz != nullptr ? psz : "";
            g_free(psz);
            return "ok " + EscapeTestPayload(str);
        }
        GtkAllocation a;
        gtk_widget_get_allocation(pFrame, &a);
        return Ok(std::to_string(a.x) + " " + std::to_string(a.width));
    }
    if (strCmd == "dialogs")
        return Ok(std::to_string(pWs->MessageBoxes().size()));
    if (strCmd == "dialog" || strCmd == "answer") {
        const auto& vec = pWs->MessageBoxes();
        if (!bHasId || nId < 0 || nId >= static_cast<int>(vec.size()))
            return "err no such dialog";
        GtkWidget* pBox = vec[static_cast<size_t>(nId)];
        if (strCmd == "dialog") {
            gchar* pszText = nullptr;
            g_object_get(pBox, "text", &pszText, nullptr);
            std::string str = std::string(MessageKind(pBox)) + "\t" +
                              gtk_window_get_title(GTK_WINDOW(pBox)) + "\t" +
                              (pszText != nullptr ? pszText : "") + "\t" +
                              (gtk_window_get_modal(GTK_WINDOW(pBox)) ? "modal" : "modeless") +
                              "\t" + (gtk_widget_get_visible(pBox) ? "visible" : "hidden");
            g_free(pszText);
            return Ok(str);
        }
        GtkWidget* pOk = gtk_dialog_get_widget_for_response(GTK_DIALOG(pBox), GTK_RESPONSE_OK);
        if (pOk == nullptr)
            return "err no OK button";
        g_object_ref(pOk);
        CGtkWindowSystem::Post([pOk] {
            gtk_button_clicked(GTK_BUTTON(pOk));
            g_object_unref(pOk);
        });
        return Ok();
    }
    if (strCmd == "close") {
        CGtkWindowSystem::Post([pWindow] { gtk_window_close(GTK_WINDOW(pWindow)); });
        return Ok();
    }
    if (strCmd == "menu" || strCmd == "contextmenu") {
        return Ok(Join(pWs->MenuItemTexts(strCmd == "contextmenu"), "\t"));
    }
    if (strCmd == "activate" || strCmd == "contextactivate") {
        const bool bContext = strCmd == "contextactivate";
        std::string strItem = strRest;
        CGtkWindowSystem::Post(
            [pWs, bContext, strItem] { pWs->ActivateMenuItem(bContext, strItem); });
        return Ok();
    }
    if (strCmd == "closebutton") {
        // Where the header bar's close button is on the screen, for a real click.
        GtkWidget* pClose = pWs->CloseButton();
        if (pClose == nullptr || !gtk_widget_get_mapped(pClose))
            return "err no close button";
        int x = 0, y = 0;
        GtkAllocation a;
        gtk_widget_get_allocation(pClose, &a);
        gtk_widget_translate_coordinates(pClose, pWindow, 0, 0, &x, &y);
        int ox = 0, oy = 0;
        gdk_window_get_origin(gtk_widget_get_window(pWindow), &ox, &oy);
        return Ok(std::to_string(ox + x + a.width / 2) + " " +
                  std::to_string(oy + y + a.height / 2));
    }

    // Everything below works on one control.
    if (!bHasId)
        return "err missing control id";
    GtkWidget* pControl = pWs->Control(nId);
    if (pControl == nullptr)
        return "err no such control";
    if (strCmd == "text")
        return Ok(pWs->GetControlText(nId, 1u << 20));
    if (strCmd == "enabled")
        return Ok(gtk_widget_get_sensitive(pControl) ? "1" : "0");
    if (strCmd == "tooltip") {
        gchar* psz = gtk_widget_get_tooltip_text(pControl);
        std::string str = psz != nullptr ? psz : "";
        g_free(psz);
        return "ok " + EscapeTestPayload(str);
    }
    if (strCmd == "geometry") {
        // Root coordinates of the control's centre, and its size.
        GtkAllocation a;
        gtk_widget_get_allocation(pControl, &a);
        int x = 0, y = 0, ox = 0, oy = 0;
        gtk_widget_translate_coordinates(pControl, pWindow, 0, 0, &x, &y);
        gdk_window_get_origin(gtk_widget_get_window(pWindow), &ox, &oy);
        return Ok(std::to_string(ox + x + a.width / 2) + " " +
                  std::to_string(oy + y + a.height / 2) + " " + std::to_string(a.width) + " " +
                  std::to_string(a.height));
    }
    if (strCmd == "settext") {
        // As a program setting an edit box's text (WM_SETTEXT) would.
        if (!GTK_IS_ENTRY(pControl))
            return "err not an entry";
        gtk_entry_set_text(GTK_ENTRY(pControl), strText.c_str());
        return Ok();
    }
    if (strCmd == "selection") {
        if (!GTK_IS_EDITABLE(pControl))
            return "err not an entry";
        gint nStart = 0, nEnd = 0;
        gtk_editable_get_selection_bounds(GTK_EDITABLE(pControl), &nStart, &nEnd);
        return Ok(std::to_string(nStart) + " " + std::to_string(nEnd));
    }
    if (strCmd == "watch") {
        // From now on every change of the control's caption or enabled state is noted,
        // so that short-lived states can be checked after the fact.
        auto* pHistory = new std::vector<std::string>();
        g_object_set_data_full(
            G_OBJECT(pControl), "tachyra-test-history", pHistory,
            +[](gpointer p) { delete static_cast<std::vector<std::string>*>(p); });
        g_signal_connect(
            pControl, "notify", G_CALLBACK(+[](GObject* pObj, GParamSpec* pSpec, gpointer pData) {
                auto* pVec = static_cast<std::vector<std::string>*>(pData);
                const std::string strProp = g_param_spec_get_name(pSpec);
                if (strProp == "label" && GTK_IS_BUTTON(pObj))
                    pVec->push_back(gtk_button_get_label(GTK_BUTTON(pObj)));
                else if (strProp == "sensitive")
                    pVec->push_back(gtk_widget_get_sensitive(GTK_WIDGET(pObj)) ? "enabled"
                                                                               : "disabled");
            }),
            pHistory);
        return Ok();
    }
    if (strCmd == "history") {
        auto* pHistory = static_cast<std::vector<std::string>*>(
            g_object_get_data(G_OBJECT(pControl), "tachyra-test-history"));
        if (pHistory == nullptr)
            return "err not watched";
        return Ok(Join(*pHistory, "\t"));
    }
    if (strCmd == "grabfocus") {
        gtk_widget_grab_focus(pControl);
        return Ok();
    }
    if (strCmd == "combo") {
        std::vector<std::string> vec{std::to_string(pWs->ComboGetCurSel(nId))};
        for (int i = 0; i < pWs->ComboGetCount(nId); ++i)
            vec.push_back(pWs->ComboGetItemText(nId, i));
        return Ok(Join(vec, "\t"));
    }
    if (strCmd == "select") {
        int nIndex = 0;
        if (!GTK_IS_COMBO_BOX(pControl) || !ParseId(strText, nIndex))
            return "err not a combo box or no index";
        gtk_combo_box_set_active(GTK_COMBO_BOX(pControl), nIndex);
        return Ok();
    }
    if (strCmd == "click") {
        // As a click with the mouse: nothing happens on a disabled button.
        if (!GTK_IS_BUTTON(pControl))
            return "err not a button";
        if (!gtk_widget_is_sensitive(pControl))
            return Ok("disabled");
        g_object_ref(pControl);
        CGtkWindowSystem::Post([pControl] {
            gtk_button_clicked(GTK_BUTTON(pControl));
            g_object_unref(pControl);
        });
        return Ok("clicked");
    }
    return "err unknown command";
}

bool StartGtkTestHook(CGtkWindowSystem* pWindowSystem) {
    const char* pszFd = std::getenv("TACHYRA_TEST_CONTROL_FD");
    if (pszFd == nullptr || pszFd[0] == '\0')
        return false;
    int fd = 0;
    if (!ParseId(pszFd, fd) || fd < 0)
        return false;
    // Children (a browser opened by the web-test button) must not inherit the channel.
    g_unix_set_fd_nonblocking(fd, TRUE, nullptr);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), OnReadable,
                  new CHookState{pWindowSystem, fd, std::string()});
    return true;
}

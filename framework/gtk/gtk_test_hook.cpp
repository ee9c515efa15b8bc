// The window tests' control channel (see the header for the protocol).
#include "framework/gtk/gtk_test_hook.h"

#include "support/ascii.h"

#include "framework/gtk/gtk_window_system.h"

#include <gdk/gdkx.h>
#include <glib-unix.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <map>
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
    return ParseDecimalInt(strArg, nId);
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

// One parsed request: "command [id] [text]". The window and, for the commands that work
// on one control, the control are looked up before the handler runs.
struct CRequest {
    CGtkWindowSystem* pWs;
    GtkWidget* pWindow;
    std::string strRest; // everything after the command
    int nId;
    bool bHasId;
    std::string strText; // everything after the id
    GtkWidget* pControl;
};

// Activates a menu item (the window menu's or the context menu's) on the main loop.
std::string ActivateMenuItem(const CRequest& r, bool bContext) {
    CGtkWindowSystem* pWs = r.pWs;
    std::string strItem = r.strRest;
    CGtkWindowSystem::Post([pWs, strItem, bContext] { pWs->ActivateMenuItem(bContext, strItem); });
    return Ok();
}

using FnHandler = std::string (*)(const CRequest&);

std::string Flag(bool b) {
    return Ok(b ? "1" : "0");
}

std::string Tooltip(GtkWidget* pWidget) {
    gchar* psz = gtk_widget_get_tooltip_text(pWidget);
    std::string str = psz != nullptr ? psz : "";
    g_free(psz);
    return "ok " + EscapeTestPayload(str);
}

// Root coordinates of the widget's centre, for a real click there.
std::string Centre(GtkWidget* pWidget, GtkWidget* pWindow, GtkAllocation& a) {
    gtk_widget_get_allocation(pWidget, &a);
    int x = 0, y = 0, ox = 0, oy = 0;
    gtk_widget_translate_coordinates(pWidget, pWindow, 0, 0, &x, &y);
    gdk_window_get_origin(gtk_widget_get_window(pWindow), &ox, &oy);
    return std::to_string(ox + x + a.width / 2) + " " + std::to_string(oy + y + a.height / 2);
}

// Clicks on the main loop, after the reply: the click may open a modal box.
void PostClick(GtkWidget* pButton) {
    g_object_ref(pButton);
    CGtkWindowSystem::Post([pButton] {
        gtk_button_clicked(GTK_BUTTON(pButton));
        g_object_unref(pButton);
    });
}

GtkWidget* PaneFrame(const CRequest& r) {
    GtkWidget* pLabel = r.bHasId ? r.pWs->StatusPart(r.nId) : nullptr;
    return pLabel != nullptr ? gtk_widget_get_parent(pLabel) : nullptr;
}

GtkWidget* Box(const CRequest& r) {
    const auto& vec = r.pWs->MessageBoxes();
    return r.bHasId && r.nId >= 0 && r.nId < static_cast<int>(vec.size())
               ? vec[static_cast<size_t>(r.nId)]
               : nullptr;
}

// From "watch" on, every change of the control's caption or enabled state is noted, so
// that short-lived states can be checked after the fact.
void OnWatchedNotify(GObject* pObj, GParamSpec* pSpec, gpointer pData) {
    auto* pVec = static_cast<std::vector<std::string>*>(pData);
    const std::string strProp = g_param_spec_get_name(pSpec);
    if (strProp == "label" && GTK_IS_BUTTON(pObj))
        pVec->push_back(gtk_button_get_label(GTK_BUTTON(pObj)));
    else if (strProp == "sensitive")
        pVec->push_back(gtk_widget_get_sensitive(GTK_WIDGET(pObj)) ? "enabled" : "disabled");
}

const char* const kHistoryKey = "tachyra-test-history";

// Commands on the window as a whole.
const std::map<std::string, FnHandler> kWindowCommands = {
    {"caption", [](const CRequest& r) { return Ok(gtk_window_get_title(GTK_WINDOW(r.pWindow))); }},
    {"xid",
     [](const CRequest& r) {
         GdkWindow* pGdk = gtk_widget_get_window(r.pWindow);
         if (pGdk == nullptr || !GDK_IS_X11_WINDOW(pGdk))
             return std::string("err not an X11 window");
         return Ok(std::to_string(GDK_WINDOW_XID(pGdk)));
     }},
    {"icons",
     [](const CRequest& r) { // the sizes of the window's icons
         std::vector<std::string> vec;
         GList* pList = gtk_window_get_icon_list(GTK_WINDOW(r.pWindow));
         for (GList* p = pList; p != nullptr; p = p->next)
             vec.push_back(std::to_string(gdk_pixbuf_get_width(GDK_PIXBUF(p->data))));
         g_list_free(pList);
         return Ok(Join(vec, " "));
     }},
    {"active", [](const CRequest& r) { return Flag(gtk_window_is_active(GTK_WINDOW(r.pWindow))); }},
    {"mapped", [](const CRequest& r) { return Flag(gtk_widget_get_mapped(r.pWindow)); }},
    {"focus", [](const CRequest& r) { return Ok(std::to_string(r.pWs->FocusedControlId())); }},
    {"taborder",
     [](const CRequest& r) {
         std::vector<std::string> vec;
         for (int n : r.pWs->TabOrder())
             vec.push_back(std::to_string(n));
         return Ok(Join(vec, " "));
     }},
    {"timer", [](const CRequest& r) { return Ok(std::to_string(r.pWs->StatusTimerTicks())); }},
    {"baseunits",
     [](const CRequest& r) {
         return Ok(std::to_string(r.pWs->BaseUnitX()) + " " + std::to_string(r.pWs->BaseUnitY()));
     }},
    {"panes",
     [](const CRequest& r) {
         return Ok(std::to_string(r.pWs->StatusPartCount()) +
                   (r.pWs->StatusBarVisible() ? " visible" : " hidden"));
     }},
    {"pane",
     [](const CRequest& r) {
         GtkWidget* pFrame = PaneFrame(r);
         if (pFrame == nullptr)
             return std::string("err no such pane");
         return Ok(gtk_label_get_text(GTK_LABEL(r.pWs->StatusPart(r.nId))));
     }},
    {"panetip",
     [](const CRequest& r) {
         GtkWidget* pFrame = PaneFrame(r);
         return pFrame != nullptr ? Tooltip(pFrame) : "err no such pane";
     }},
    {"panegeometry",
     [](const CRequest& r) {
         GtkWidget* pFrame = PaneFrame(r);
         if (pFrame == nullptr)
             return std::string("err no such pane");
         GtkAllocation a;
         gtk_widget_get_allocation(pFrame, &a);
         return Ok(std::to_string(a.x) + " " + std::to_string(a.width));
     }},
    {"dialogs", [](const CRequest& r) { return Ok(std::to_string(r.pWs->MessageBoxes().size())); }},
    {"dialog",
     [](const CRequest& r) {
         GtkWidget* pBox = Box(r);
         if (pBox == nullptr)
             return std::string("err no such dialog");
         gchar* pszText = nullptr;
         g_object_get(pBox, "text", &pszText, nullptr);
         std::string str = std::string(MessageKind(pBox)) + "\t" +
                           gtk_window_get_title(GTK_WINDOW(pBox)) + "\t" +
                           (pszText != nullptr ? pszText : "") + "\t" +
                           (gtk_window_get_modal(GTK_WINDOW(pBox)) ? "modal" : "modeless") + "\t" +
                           (gtk_widget_get_visible(pBox) ? "visible" : "hidden");
         g_free(pszText);
         return Ok(str);
     }},
    {"answer",
     [](const CRequest& r) {
         GtkWidget* pBox = Box(r);
         if (pBox == nullptr)
             return std::string("err no such dialog");
         GtkWidget* pOk = gtk_dialog_get_widget_for_response(GTK_DIALOG(pBox), GTK_RESPONSE_OK);
         if (pOk == nullptr)
             return std::string("err no OK button");
         PostClick(pOk);
         return Ok();
     }},
    {"close",
     [](const CRequest& r) {
         GtkWidget* pWindow = r.pWindow;
         CGtkWindowSystem::Post([pWindow] { gtk_window_close(GTK_WINDOW(pWindow)); });
         return Ok();
     }},
    {"menu", [](const CRequest& r) { return Ok(Join(r.pWs->MenuItemTexts(false), "\t")); }},
    {"contextmenu", [](const CRequest& r) { return Ok(Join(r.pWs->MenuItemTexts(true), "\t")); }},
    {"activate", [](const CRequest& r) { return ActivateMenuItem(r, false); }},
    {"contextactivate", [](const CRequest& r) { return ActivateMenuItem(r, true); }},
    {"closebutton",
     [](const CRequest& r) { // the header bar's close button
         GtkWidget* pClose = r.pWs->CloseButton();
         if (pClose == nullptr || !gtk_widget_get_mapped(pClose))
             return std::string("err no close button");
         GtkAllocation a;
         return Ok(Centre(pClose, r.pWindow, a));
     }},
};

// Commands on one control: the id is checked and the control looked up first.
const std::map<std::string, FnHandler> kControlCommands = {
    {"text", [](const CRequest& r) { return Ok(r.pWs->GetControlText(r.nId, 1u << 20)); }},
    {"enabled", [](const CRequest& r) { return Flag(gtk_widget_get_sensitive(r.pControl)); }},
    {"tooltip", [](const CRequest& r) { return Tooltip(r.pControl); }},
    {"geometry",
     [](const CRequest& r) { // centre on the screen, and size
         GtkAllocation a;
         std::string str = Centre(r.pControl, r.pWindow, a);
         return Ok(str + " " + std::to_string(a.width) + " " + std::to_string(a.height));
     }},
    {"settext",
     [](const CRequest& r) {
         // As a program setting an edit box's text (WM_SETTEXT) would.
         if (!GTK_IS_ENTRY(r.pControl))
             return std::string("err not an entry");
         gtk_entry_set_text(GTK_ENTRY(r.pControl), r.strText.c_str());
         return Ok();
     }},
    {"selection",
     [](const CRequest& r) {
         if (!GTK_IS_EDITABLE(r.pControl))
             return std::string("err not an entry");
         gint nStart = 0, nEnd = 0;
         gtk_editable_get_selection_bounds(GTK_EDITABLE(r.pControl), &nStart, &nEnd);
         return Ok(std::to_string(nStart) + " " + std::to_string(nEnd));
     }},
    {"watch",
     [](const CRequest& r) {
         auto* pHistory = new std::vector<std::string>();
         g_object_set_data_full(
             G_OBJECT(r.pControl), kHistoryKey, pHistory,
             +[](gpointer p) { delete static_cast<std::vector<std::string>*>(p); });
         g_signal_connect(r.pControl, "notify", G_CALLBACK(OnWatchedNotify), pHistory);
         return Ok();
     }},
    {"history",
     [](const CRequest& r) {
         auto* pHistory = static_cast<std::vector<std::string>*>(
             g_object_get_data(G_OBJECT(r.pControl), kHistoryKey));
         return pHistory != nullptr ? Ok(Join(*pHistory, "\t")) : "err not watched";
     }},
    {"grabfocus",
     [](const CRequest& r) {
         gtk_widget_grab_focus(r.pControl);
         return Ok();
     }},
    {"combo",
     [](const CRequest& r) {
         std::vector<std::string> vec{std::to_string(r.pWs->ComboGetCurSel(r.nId))};
         for (int i = 0; i < r.pWs->ComboGetCount(r.nId); ++i)
             vec.push_back(r.pWs->ComboGetItemText(r.nId, i));
         return Ok(Join(vec, "\t"));
     }},
    {"select",
     [](const CRequest& r) {
         int nIndex = 0;
         if (!GTK_IS_COMBO_BOX(r.pControl) || !ParseId(r.strText, nIndex))
             return std::string("err not a combo box or no index");
         gtk_combo_box_set_active(GTK_COMBO_BOX(r.pControl), nIndex);
         return Ok();
     }},
    {"click",
     [](const CRequest& r) {
         // As a click with the mouse: nothing happens on a disabled button.
         if (!GTK_IS_BUTTON(r.pControl))
             return std::string("err not a button");
         if (!gtk_widget_is_sensitive(r.pControl))
             return Ok("disabled");
         PostClick(r.pControl);
         return Ok("clicked");
     }},
};

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
    CRequest r{pWs, pWs->Window(), std::string(), 0, false, std::string(), nullptr};
    const size_t nSpace = strLine.find(' ');
    const std::string strCmd = strLine.substr(0, nSpace);
    if (nSpace != std::string::npos)
        r.strRest = strLine.substr(nSpace + 1);
    const size_t nIdEnd = r.strRest.find(' ');
    r.bHasId = ParseId(r.strRest.substr(0, nIdEnd), r.nId);
    if (nIdEnd != std::string::npos)
        r.strText = r.strRest.substr(nIdEnd + 1);
    if (r.pWindow == nullptr)
        return "err no window";
    auto it = kWindowCommands.find(strCmd);
    if (it != kWindowCommands.end())
        return it->second(r);
    it = kControlCommands.find(strCmd);
    if (it == kControlCommands.end())
        return "err unknown command";
    if (!r.bHasId)
        return "err missing control id";
    r.pControl = pWs->Control(r.nId);
    return r.pControl != nullptr ? it->second(r) : "err no such control";
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

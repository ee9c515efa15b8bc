// tachyra on Linux: the main window on GTK 3, or the headless test server when there is
// no display to open.
#include "app/gtk/kestrun_template.h"
#include "app/gtk/icon.h"
#include "app/ini_settings_store.h"
#include "app/kestrun_dlg.h"
#include "headless/headless_server.h"
#include "headless/stop_signal.h"
#include "framework/gtk/gtk_test_hook.h"
#include "framework/gtk/gtk_window_system.h"
#include "server/assets.h"
#include "support/platform.h"
#include "support/process_paths.h"
#include "support/socket.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (!gtk_init_check(&argc, &argv)) {
        std::printf("No display found: starting the headless test server on port 10001 "
                    "(Ctrl-C stops it).\n");
        std::fflush(stdout);
        InstallStopSignal();
        if (!InitSocketLibrary()) {
            std::perror("tachyra: sockets");
            return 1;
        }
        RaiseDescriptorLimit();
        return RunServerMode("tachyra", CServerSettings());
    }

    RaiseDescriptorLimit();
    const std::string strAppName = GetProcessBaseName();
    g_set_prgname(strAppName.c_str());
    g_set_application_name("Tachyra");
    gtk_window_set_default_icon_name("tachyra");

    CIniSettingsStore settings(CIniSettingsStore::DefaultPath(strAppName));
    CKestrunDlg dlg(&settings, &LoadTextResource);
    CGtkWindowSystem ws(&dlg, KestrunDialogTemplate());
    ws.SetIcons(LoadWindowIcons());
    if (StartGtkTestHook(&ws)) {
        // Under the window tests the server listens on the loopback interface only.
        dlg.m_strListenAddr = "127.0.0.1";
    }
    ws.RunModal();
    return 0;
}

// Entry point of tachyra.exe.
#include "app/win32/kestrun_app.h"

#include <windows.h>

static CKestrunApp theApp;

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    theApp.InitInstance(hInstance);
    return 0;
}

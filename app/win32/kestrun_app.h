// CKestrunApp: the Windows program's start-up.
#pragma once

#include <windows.h>

class CKestrunApp {
public:
    // Runs the whole program; returns false (nothing follows) when the window ends
    // without the close hook having ended the process.
    bool InitInstance(HINSTANCE hInstance);
};

// Records and message numbers of the dialog framework, shared by every window system.
#pragma once

#include <cstdint>
#include <string>

class CVXEvent;

// Private messages of a framework dialog (above WM_USER, below WM_APP).
const unsigned int WM_VX_COMMAND = 10128;
const unsigned int WM_VX_CALLBACK = 10129;

// Id of the half-second status timer and of the status bar control.
const unsigned int IDT_VX_STATUS = 8000;
const int IDC_VX_STATUSBAR = 0xE801;

// Longest name, value or tip text of a status pane, without the terminating zero.
const size_t kVXPaneTextMax = 256;

// One status bar pane. Created zero-filled.
struct _VX_STATUS_TYPE {
    int nIndex;
    int nWidth;
    char szName[kVXPaneTextMax + 1];
    char szText[kVXPaneTextMax + 1];
    char szTip[kVXPaneTextMax + 1];
};

// One command or callback message travelling to the dialog's thread.
struct _VX_COMMAND_MSG {
    int nKind = 0; // 0 command; 1..20 callback kind; anything else a plain user message
    std::string strName;
    std::string strText;
    CVXEvent* hEvent = nullptr; // set after handling instead of returning the record
    std::string strSubCommand;
    std::string strText2;
    int nArg1 = 0;
    int nArg2 = 0;
    intptr_t nValue = 0; // command value; for a callback message the callback record
    int nArg3 = 0;
};

// Resource and control ids of the main window; shared by the code and the .rc file.
#pragma once

#define IDM_VISIT_SITE 101
#define IDD_KESTRUN_DIALOG 102
#define IDR_MAINFRAME 128
#define IDR_TEXT_BUTTONS_CSS 129
#define IDR_TEXT_ECHARTS_JS 130
#define IDR_TEXT_PAGE_HTML 131
#define IDR_TEXT_FULL_HTML 132
#define IDR_TEXT_FULL_JS 133

#define IDC_SERVER_BUTTON 1000
#define IDC_LISTEN_PORT 1001
#define IDC_CLIENT_BUTTON 1002
#define IDC_SERVER_ADDR 1003
#define IDC_SERVER_PORT 1004
#define IDC_TYPE 1007
#define IDC_WEBTEST_BUTTON 1008

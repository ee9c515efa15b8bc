// Dialog template 102 as data: the controls of the main window in template order (also
// the tab order), with the positions of the Windows resource in dialog units.
#include "app/gtk/kestrun_template.h"

#include "app/resource.h"

CGtkDialogTemplate KestrunDialogTemplate() {
    using K = EGtkControlKind;
    CGtkDialogTemplate tmpl;
    tmpl.strCaption = "Tachyra";
    tmpl.cx = 199;
    tmpl.cy = 167;
    tmpl.dFontPoints = 9;
    // id, kind, text, x, y, cx, cy, tab stop, disabled, sorted
    tmpl.controls = {
        {IDC_SERVER_BUTTON, K::PushButton, "启动服务", 104, 19, 79, 14, true, false, false},
        {IDC_LISTEN_PORT, K::Edit, "", 49, 20, 51, 13, true, false, false},
        {IDC_CLIENT_BUTTON, K::PushButton, "开始连接测试", 12, 105, 171, 14, true, false, false},
        {IDC_SERVER_ADDR, K::Edit, "", 49, 66, 134, 13, true, false, false},
        {IDC_SERVER_PORT, K::Edit, "", 49, 86, 51, 13, true, false, false},
        {-1, K::GroupBox, "服务端", 7, 4, 185, 38, false, false, false},
        {-1, K::Label, "侦听端口：", 12, 22, 37, 8, false, false, false},
        {-1, K::GroupBox, "客户端", 7, 50, 185, 97, false, false, false},
        {-1, K::Label, "远程主机：", 12, 68, 37, 8, false, false, false},
        {-1, K::Label, "远程端口：", 12, 88, 37, 8, false, false, false},
        {-1, K::Label, "类型：", 104, 88, 21, 8, false, false, false},
        {IDC_TYPE, K::DropDownList, "", 128, 86, 55, 30, true, false, true},
        {IDC_WEBTEST_BUTTON, K::PushButton, "使用JS.WebSocket测试", 12, 126, 171, 14, true, true,
         false},
    };
    return tmpl;
}

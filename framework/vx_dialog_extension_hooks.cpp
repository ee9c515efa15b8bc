// Do-nothing defaults of the framework's spare hooks, and the callback dispatch.
#include "framework/vx_dialog_extension_hooks.h"

CVXDialogExtensionHooks::CVXDialogExtensionHooks()
    : m_cbPool(2, 8, "CObjectPool<struct CVXDialog::_Tovik_CmdCallBack>::FreeObject") {}

void CVXDialogExtensionHooks::OnCompareListItems(void*, const std::string&, std::string&,
                                                 std::string&, bool&) {}
void CVXDialogExtensionHooks::OnPPPoEDialComplete(int, const std::string&) {}
void CVXDialogExtensionHooks::OnFilesDropped(const std::string&, int) {}
void CVXDialogExtensionHooks::OnUserMessage(_VX_COMMAND_MSG*) {}
void CVXDialogExtensionHooks::OnMenuItem(const std::string&, int) {}
void CVXDialogExtensionHooks::OnToolbarItem(const std::string&, int) {}
void CVXDialogExtensionHooks::OnAppRunState(int) {}

bool CVXDialogExtensionHooks::AddToolTipById(int nControlId, const std::string* pText,
                                             int nToolId) {
    return AddToolTip(nControlId, pText, nToolId);
}

void CVXDialogExtensionHooks::CallBack(_VX_COMMAND_MSG* pRecord, bool bClosing) {
    auto* pCallback = reinterpret_cast<_Tovik_CmdCallBack*>(pRecord->nValue);
    if (!bClosing && pCallback != nullptr) {
        const _Tovik_CmdCallBack& c = *pCallback;
        switch (pRecord->nKind) {
        case 1:
            if (c.fn1)
                c.fn1();
            break;
        case 2:
            if (c.fn2)
                c.fn2(pRecord->nArg3);
            break;
        case 3:
            if (c.fn3)
                c.fn3(pRecord->nArg1);
            break;
        case 4:
            if (c.fn4)
                c.fn4(pRecord->nArg1, pRecord->nArg2);
            break;
        case 5:
            if (c.fn6)
                c.fn6(pRecord->strSubCommand);
            break;
        case 6:
            if (c.fn5)
                c.fn5(pRecord->nArg1, pRecord->strSubCommand);
            break;
        case 7:
            if (c.fn7)
                c.fn7(pRecord->strSubCommand, pRecord->strText2);
            break;
        case 8:
            if (c.fn8)
                c.fn8(pRecord->strSubCommand, pRecord->nArg3);
            break;
        default: // 9..20 call nothing
            break;
        }
    }
    if (pCallback != nullptr)
        m_cbPool.FreeObject(pCallback);
}

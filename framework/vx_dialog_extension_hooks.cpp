// Do-nothing defaults of the framework's spare hooks, and the callback dispatch.
#include "framework/vx_dialog_extension_hooks.h"

#include <functional>

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

namespace {

template <typename TFn, typename... TArgs> void CallIfSet(const TFn& fn, const TArgs&... args) {
    if (fn)
        fn(args...);
}

} // namespace

void CVXDialogExtensionHooks::CallBack(_VX_COMMAND_MSG* pRecord, bool bClosing) {
    auto* pCallback = reinterpret_cast<_Tovik_CmdCallBack*>(pRecord->nValue);
    if (!bClosing && pCallback != nullptr) {
        const _Tovik_CmdCallBack& c = *pCallback;
        // Kinds 1 to 8 call their slot with the record's arguments; 9 to 20 call nothing.
        const std::function<void()> calls[] = {
            [&] { CallIfSet(c.fn1); },
            [&] { CallIfSet(c.fn2, pRecord->nArg3); },
            [&] { CallIfSet(c.fn3, pRecord->nArg1); },
            [&] { CallIfSet(c.fn4, pRecord->nArg1, pRecord->nArg2); },
            [&] { CallIfSet(c.fn6, pRecord->strSubCommand); },
            [&] { CallIfSet(c.fn5, pRecord->nArg1, pRecord->strSubCommand); },
            [&] { CallIfSet(c.fn7, pRecord->strSubCommand, pRecord->strText2); },
            [&] { CallIfSet(c.fn8, pRecord->strSubCommand, pRecord->nArg3); },
        };
        if (pRecord->nKind >= 1 && pRecord->nKind <= 8)
            calls[pRecord->nKind - 1]();
    }
    if (pCallback != nullptr)
        m_cbPool.FreeObject(pCallback);
}

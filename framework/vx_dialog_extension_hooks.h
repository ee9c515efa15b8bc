// The parts of the dialog framework that this program's dialogs neither override nor
// use: list sorting, dial-up completion, dropped files, menu and toolbar items, the run
// state, plain user messages and the callback records. CVXDialog inherits them, so a
// derived dialog still finds them with their do-nothing defaults.
#pragma once

#include "framework/object_pool.h"
#include "framework/vx_types.h"

#include <functional>
#include <string>

// Eight callback slots that a callback message may call on the dialog's thread.
struct _Tovik_CmdCallBack {
    std::function<void()> fn1;
    std::function<void(int)> fn2;
    std::function<void(int)> fn3;
    std::function<void(int, int)> fn4;
    std::function<void(int, const std::string&)> fn5;
    std::function<void(const std::string&)> fn6;
    std::function<void(const std::string&, const std::string&)> fn7;
    std::function<void(const std::string&, int)> fn8;
};

class CVXDialogExtensionHooks {
public:
    virtual ~CVXDialogExtensionHooks() = default;
    CVXDialogExtensionHooks(const CVXDialogExtensionHooks&) = delete;
    CVXDialogExtensionHooks& operator=(const CVXDialogExtensionHooks&) = delete;

    virtual void OnCompareListItems(void* pListView, const std::string& strColumn,
                                    std::string& strFirst, std::string& strSecond, bool& bNumeric);
    // The "PPPOE_DIAL_COMPLETE" UI command.
    virtual void OnPPPoEDialComplete(int nValue, const std::string& strText);
    virtual void OnFilesDropped(const std::string& strFiles, int nCount);
    // A WM_VX_CALLBACK message whose kind is not a callback kind (1..20).
    virtual void OnUserMessage(_VX_COMMAND_MSG* pRecord);
    virtual void OnMenuItem(const std::string& strItem, int nItem);
    virtual void OnToolbarItem(const std::string& strItem, int nItem);
    // The "VX_APP_RUN_STATE" command.
    virtual void OnAppRunState(int nValue);
    // CVXDialog registers the tool; AddToolTipById passes the control id on to it.
    virtual bool AddToolTip(int nControlId, const std::string* pText, int nToolId) = 0;
    virtual bool AddToolTipById(int nControlId, const std::string* pText, int nToolId);

    CObjectPool<_Tovik_CmdCallBack>& CallbackPool() { return m_cbPool; }

protected:
    CVXDialogExtensionHooks();
    // A callback message (kind 1..20; record in nValue): calls its slot unless the
    // dialog is closing, then returns the callback record to the pool.
    void CallBack(_VX_COMMAND_MSG* pRecord, bool bClosing);

private:
    CObjectPool<_Tovik_CmdCallBack> m_cbPool;
};

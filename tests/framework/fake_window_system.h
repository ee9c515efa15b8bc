// A window system in memory: controls as records, posted messages in a queue that the
// test pumps on the dialog's thread, message boxes recorded instead of shown.
#pragma once

#include "framework/vx_dialog.h"
#include "framework/vx_window_system.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

class CFakeWindowSystem : public CVXWindowSystem {
public:
    struct CControl {
        std::string strText;
        bool bEnabled = true;
        std::vector<std::string> vecItems; // combo box, kept sorted
        int nCurSel = -1;
        std::vector<std::string> vecHistory; // every text set, in order
    };
    struct CBox {
        std::string strText, strCaption;
        EVXBoxIcon icon;
    };
    // Holds the lock to the end of the statement, then wakes whoever waits for a change;
    // At() gives a control's record with it.
    struct CLocked {
        std::unique_lock<std::mutex> lock;
        std::condition_variable& cv;
        CControl* pControl;
        ~CLocked() { cv.notify_all(); }
        CControl* operator->() const { return pControl; }
    };
    CLocked Lock() { return {std::unique_lock<std::mutex>(m_cs), m_cv, nullptr}; }
    CLocked At(int nId) { return {std::unique_lock<std::mutex>(m_cs), m_cv, &m_mapControls[nId]}; }

    // ---- any thread ----
    void SetControlText(int nId, const std::string& strText) override {
        WaitForDialogThread();
        auto control = At(nId);
        control->strText = strText;
        control->vecHistory.push_back(strText);
    }
    void EnableControl(int nId, bool bEnable) override { At(nId)->bEnabled = bEnable; }
    void ShowMessageBox(const std::string& strText, const std::string& strCaption,
                        EVXBoxIcon icon) override {
        auto locked = Lock();
        m_vecBoxes.push_back(CBox{strText, strCaption, icon});
    }
    bool PostVXMessage(unsigned int nMsg, _VX_COMMAND_MSG* pRecord) override {
        auto locked = Lock();
        m_queue.emplace_back(nMsg, pRecord);
        return true;
    }

    // ---- dialog's thread ----
    bool HasControl(int nId) override {
        auto locked = Lock();
        return m_mapControls.count(nId) != 0 || (nId == IDC_VX_STATUSBAR && m_bStatusBar);
    }
    std::string GetControlText(int nId, size_t nMax) override {
        return At(nId)->strText.substr(0, nMax);
    }
    bool IsControlEnabled(int nId) override { return At(nId)->bEnabled; }
    void FocusControl(int nId) override { m_nFocus = nId; }
    void SetCaption(const std::string&) override {}
    void ComboAddItem(int nId, const std::string& strText) override {
        auto& vec = At(nId)->vecItems; // the combo fields: this thread only
        vec.insert(std::upper_bound(vec.begin(), vec.end(), strText), strText);
    }
    int ComboGetCount(int nId) override { return static_cast<int>(At(nId)->vecItems.size()); }
    std::string ComboGetItemText(int nId, int nIndex) override {
        return At(nId)->vecItems.at(static_cast<size_t>(nIndex));
    }
    int ComboGetCurSel(int nId) override { return At(nId)->nCurSel; }
    void ComboSetCurSel(int nId, int nIndex) override { At(nId)->nCurSel = nIndex; }
    void AppendSystemMenuItem(unsigned int, const std::string&) override {}
    void OpenUrl(const std::string&) override {}
    void SetWindowIcons() override {}
    void CreateToolTip() override { m_bToolTip = true; }
    void StartStatusTimer(unsigned int, unsigned int) override {}
    bool CreateStatusBar() override { return m_bStatusBar = true; }
    // The status bar's fields: this thread only, as the test reads them on it too.
    void SetStatusParts(const std::vector<int>& vecRightEdges) override {
        m_vecPartEdges = vecRightEdges;
        m_vecPartTexts.resize(vecRightEdges.size());
    }
    void SetStatusPartText(int n, const std::string& str) override { m_vecPartTexts.at(n) = str; }
    void SetStatusPartTip(int, const std::string&) override {}
    bool AddToolTip(int nControlId, const std::string*, int) override {
        m_vecTools.push_back(nControlId);
        return m_bToolTip;
    }
    // Tests set the dialog's own end hook; reaching this is a test failure.
    void EndProcess(int nExitCode) override { throw nExitCode; }
    void RunPendingWork() override { Pump(); }

    // ---- test side ----
    // With m_bWorkersWaitForPump set, a worker's SetControlText waits until the dialog's
    // thread pumps, as a real window system's cross-thread calls do.
    void WaitForDialogThread() {
        if (!m_bWorkersWaitForPump || m_pDialog == nullptr || m_pDialog->IsUIThread())
            return;
        std::unique_lock<std::mutex> lock(m_cs);
        const int nTicket = ++m_nWaiting;
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return m_nReleased >= nTicket; });
    }
    // Lets waiting workers go and hands every queued message to the dialog.
    void Pump() {
        std::unique_lock<std::mutex> lock(m_cs);
        m_nReleased = m_nWaiting;
        m_cv.notify_all();
        while (!m_queue.empty()) {
            auto msg = m_queue.front();
            m_queue.pop_front();
            lock.unlock();
            m_pDialog->WindowProcVX(msg.first, msg.second);
            lock.lock();
        }
    }
    // Pumps until pred holds or the time is up; the result of pred.
    template <class Pred> bool PumpUntil(Pred pred, int nMilliseconds = 15000) {
        auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
        bool bHolds = false;
        for (bool bTimedOut = false; Pump(), !(bHolds = pred()) && !bTimedOut;) {
            std::unique_lock<std::mutex> lock(m_cs);
            bTimedOut = m_cv.wait_until(lock, tEnd) == std::cv_status::timeout;
        }
        return bHolds;
    }
    size_t QueuedCount() { return Lock(), m_queue.size(); }
    std::string Text(int nId) { return At(nId)->strText; }
    bool Enabled(int nId) { return At(nId)->bEnabled; }
    std::vector<std::string> History(int nId) { return At(nId)->vecHistory; }
    std::vector<CBox> Boxes() { return Lock(), m_vecBoxes; }
    std::string PartText(size_t n) { return m_vecPartTexts.at(n); }

    CVXDialog* m_pDialog = nullptr; // the dialog that Pump() hands messages to
    std::mutex m_cs;
    std::condition_variable m_cv;
    std::map<int, CControl> m_mapControls;
    std::vector<CBox> m_vecBoxes;
    std::deque<std::pair<unsigned int, _VX_COMMAND_MSG*>> m_queue;
    bool m_bWorkersWaitForPump = false, m_bToolTip = false, m_bStatusBar = false;
    int m_nWaiting = 0, m_nReleased = 0, m_nFocus = 0;
    std::vector<int> m_vecPartEdges; // as last set
    std::vector<std::string> m_vecPartTexts;
    std::vector<int> m_vecTools;
};

// A window system in memory: controls as records, posted messages in a queue that the
// test pumps on the dialog's thread, message boxes recorded instead of shown.
#pragma once

#include "framework/vx_dialog.h"
#include "framework/vx_window_system.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

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
        std::string strText;
        std::string strCaption;
        EVXBoxIcon icon;
    };

    explicit CFakeWindowSystem(std::vector<int> vecIds) {
        for (int nId : vecIds)
            m_mapControls[nId];
    }

    void SetDialog(CVXDialog* pDialog) { m_pDialog = pDialog; }

    // ---- any thread ----
    void SetControlText(int nId, const std::string& strText) override {
        WaitForDialogThread();
        std::lock_guard<std::mutex> lock(m_cs);
        m_mapControls[nId].strText = strText;
        m_mapControls[nId].vecHistory.push_back(strText);
        m_cv.notify_all();
    }
    void EnableControl(int nId, bool bEnable) override {
        std::lock_guard<std::mutex> lock(m_cs);
        m_mapControls[nId].bEnabled = bEnable;
        m_cv.notify_all();
    }
    void ShowMessageBox(const std::string& strText, const std::string& strCaption,
                        EVXBoxIcon icon) override {
        std::lock_guard<std::mutex> lock(m_cs);
        m_vecBoxes.push_back(CBox{strText, strCaption, icon});
        m_cv.notify_all();
    }
    bool PostVXMessage(unsigned int nMsg, _VX_COMMAND_MSG* pRecord) override {
        std::lock_guard<std::mutex> lock(m_cs);
        if (m_bRefusePosts)
            return false;
        m_queue.emplace_back(nMsg, pRecord);
        m_cv.notify_all();
        return true;
    }

    // ---- dialog's thread ----
    bool HasControl(int nId) override {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_mapControls.count(nId) != 0 || (nId == IDC_VX_STATUSBAR && m_bStatusBar);
    }
    std::string GetControlText(int nId, size_t nMaxBytes) override {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_mapControls[nId].strText.substr(0, nMaxBytes);
    }
    bool IsControlEnabled(int nId) override {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_mapControls[nId].bEnabled;
    }
    void FocusControl(int nId) override {
        std::lock_guard<std::mutex> lock(m_cs);
        m_nFocus = nId;
    }
    void SetCaption(const std::string& strText) override { m_strCaption = strText; }
    void ComboAddItem(int nId, const std::string& strText) override {
        std::lock_guard<std::mutex> lock(m_cs);
        auto& vec = m_mapControls[nId].vecItems;
        vec.insert(std::upper_bound(vec.begin(), vec.end(), strText), strText);
    }
    int ComboGetCount(int nId) override {
        std::lock_guard<std::mutex> lock(m_cs);
        return static_cast<int>(m_mapControls[nId].vecItems.size());
    }
    std::string ComboGetItemText(int nId, int nIndex) override {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_mapControls[nId].vecItems.at(static_cast<size_t>(nIndex));
    }
    int ComboGetCurSel(int nId) override {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_mapControls[nId].nCurSel;
    }
    void ComboSetCurSel(int nId, int nIndex) override {
        std::lock_guard<std::mutex> lock(m_cs);
        m_mapControls[nId].nCurSel = nIndex;
    }
    void AppendSystemMenuItem(unsigned int nCommand, const std::string& strText) override {
        m_vecSystemMenu.emplace_back(nCommand, strText);
    }
    void OpenUrl(const std::string& strUrl) override { m_vecUrls.push_back(strUrl); }
    void SetWindowIcons() override { ++m_nIconCalls; }
    void CreateToolTip() override { m_bToolTip = true; }
    void StartStatusTimer(unsigned int nTimerId, unsigned int nMilliseconds) override {
        m_nTimerId = nTimerId;
        m_nTimerPeriod = nMilliseconds;
    }
    bool CreateStatusBar() override {
        m_bStatusBar = true;
        return true;
    }
    void SetStatusParts(const std::vector<int>& vecRightEdges) override {
        m_vecPartCalls.push_back(vecRightEdges);
        m_vecPartTexts.resize(vecRightEdges.size());
    }
    void SetStatusPartText(int nPart, const std::string& strText) override {
        std::lock_guard<std::mutex> lock(m_cs);
        m_vecPartTexts.at(static_cast<size_t>(nPart)) = strText;
    }
    void SetStatusPartTip(int, const std::string&) override {}
    bool AddToolTip(int nControlId, const std::string*, int) override {
        m_vecTools.push_back(nControlId);
        return m_bToolTip;
    }
    void EndProcess(int nExitCode) override {
        // Tests set the dialog's own end hook; reaching this is a test failure.
        throw nExitCode;
    }

    void RunPendingWork() override { Pump(); }

    // ---- test side ----
    // With this set, a worker's SetControlText waits until the dialog's thread pumps, as
    // a real window system's cross-thread calls do.
    bool m_bWorkersWaitForPump = false;
    void WaitForDialogThread() {
        if (!m_bWorkersWaitForPump || m_pDialog == nullptr || m_pDialog->IsUIThread())
            return;
        std::unique_lock<std::mutex> lock(m_cs);
        const int nTicket = ++m_nWaiting;
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return m_nReleased >= nTicket; });
    }
    // Hands every queued message to the dialog, and lets waiting workers go; returns how
    // many messages.
    int Pump() {
        {
            std::lock_guard<std::mutex> lock(m_cs);
            m_nReleased = m_nWaiting;
            m_cv.notify_all();
        }
        int n = 0;
        for (;;) {
            std::pair<unsigned int, _VX_COMMAND_MSG*> msg;
            {
                std::lock_guard<std::mutex> lock(m_cs);
                if (m_queue.empty())
                    return n;
                msg = m_queue.front();
                m_queue.pop_front();
            }
            m_pDialog->WindowProcVX(msg.first, msg.second);
            ++n;
        }
    }
    size_t QueuedCount() { return m_queue.size(); } // the dialog's thread
    // Pumps until pred holds or the time is up; the result of pred.
    template <class Pred> bool PumpUntil(Pred pred, int nMilliseconds = 10000) {
        auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
        for (;;) {
            Pump();
            if (pred())
                return true;
            std::unique_lock<std::mutex> lock(m_cs);
            if (m_cv.wait_until(lock, tEnd) == std::cv_status::timeout) {
                lock.unlock();
                Pump();
                return pred();
            }
        }
    }
    std::string Text(int nId) { return GetControlText(nId, std::string::npos); }
    std::vector<std::string> History(int nId) {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_mapControls[nId].vecHistory;
    }
    bool Enabled(int nId) { return IsControlEnabled(nId); }
    std::vector<CBox> Boxes() {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_vecBoxes;
    }
    std::string PartText(size_t n) {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_vecPartTexts.at(n);
    }

    CVXDialog* m_pDialog = nullptr;
    std::mutex m_cs;
    std::condition_variable m_cv;
    std::map<int, CControl> m_mapControls;
    std::vector<CBox> m_vecBoxes;
    std::deque<std::pair<unsigned int, _VX_COMMAND_MSG*>> m_queue;
    bool m_bRefusePosts = false;
    int m_nWaiting = 0, m_nReleased = 0;
    int m_nFocus = 0;
    std::string m_strCaption;
    std::vector<std::pair<unsigned int, std::string>> m_vecSystemMenu;
    std::vector<std::string> m_vecUrls;
    int m_nIconCalls = 0;
    bool m_bToolTip = false;
    unsigned int m_nTimerId = 0;
    unsigned int m_nTimerPeriod = 0;
    bool m_bStatusBar = false;
    std::vector<std::vector<int>> m_vecPartCalls;
    std::vector<std::string> m_vecPartTexts;
    std::vector<int> m_vecTools;
};

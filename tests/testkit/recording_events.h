// Engine events recorded for tests, with bounded waits for each of them.
#pragma once

#include "engine/engine_events.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class CRecordingEvents : public CEngineEvents {
public:
    void OnServerStarted() override {
        Note([this] { ++m_nServerStarted; });
    }
    void OnServerListening(int nPort) override {
        Note([&] { m_nListenPort = nPort; });
    }
    void OnServerError(const std::string& strText) override {
        Note([&] { m_serverErrors.push_back(strText); });
    }
    void OnServerAcceptFailed(const std::string& strText) override {
        Note([&] { m_acceptErrors.push_back(strText); });
    }
    void OnServerStopped() override {
        Note([this] { ++m_nServerStopped; });
    }
    void OnServerSessionEnded(const CSessionRecord& session) override {
        Note([&] { m_sessionEnds.push_back(session); });
    }
    void OnClientSessionStarted() override {
        Note([this] { ++m_nSessionsStarted; });
    }
    void OnClientTestEnded(const std::string& strText) override {
        Note([&] { m_clientEnds.push_back(strText); });
    }
    void OnMeterSample(uint64_t nRecv, uint64_t nSend, const std::string& strRecv,
                       const std::string& strSend) override {
        Note([&] {
            m_samples.push_back({nRecv, nSend});
            m_lastTexts = {strRecv, strSend};
        });
    }

    // Waits (bounded) until pred holds under the lock; returns whether it did.
    bool WaitFor(const std::function<bool()>& pred,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(m_cs);
        return m_cv.wait_for(lock, timeout, pred);
    }
    template <typename T> T Get(const T& member) {
        std::lock_guard<std::mutex> lock(m_cs);
        return member;
    }

    int m_nServerStarted = 0;
    int m_nListenPort = 0;
    std::vector<std::string> m_serverErrors;
    std::vector<std::string> m_acceptErrors;
    int m_nServerStopped = 0;
    std::vector<CSessionRecord> m_sessionEnds;
    int m_nSessionsStarted = 0;
    std::vector<std::string> m_clientEnds;
    struct CSample {
        uint64_t nRecv, nSend;
    };
    std::vector<CSample> m_samples;
    std::pair<std::string, std::string> m_lastTexts;

private:
    void Note(const std::function<void()>& fn) {
        std::lock_guard<std::mutex> lock(m_cs);
        fn();
        m_cv.notify_all();
    }
    std::mutex m_cs;
    std::condition_variable m_cv;
};

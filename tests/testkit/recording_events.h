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
    void OnServerStarted() override { Count(m_nServerStarted); }
    void OnServerListening(int nPort) override { Set(m_nListenPort, nPort); }
    void OnServerError(const std::string& strText) override { Add(m_serverErrors, strText); }
    void OnServerAcceptFailed(const std::string& strText) override { Add(m_acceptErrors, strText); }
    void OnServerStopped() override { Count(m_nServerStopped); }
    void OnServerSessionEnded(const CSessionRecord& s) override { Add(m_sessionEnds, s); }
    void OnClientSessionStarted() override { Count(m_nSessionsStarted); }
    void OnClientTestEnded(const std::string& strText) override { Add(m_clientEnds, strText); }
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
    // Each change is made under the lock and wakes the waiters.
    void Count(int& n) {
        Note([&] { ++n; });
    }
    template <typename T> void Set(T& member, const T& value) {
        Note([&] { member = value; });
    }
    template <typename T> void Add(std::vector<T>& vec, const T& value) {
        Note([&] { vec.push_back(value); });
    }
    void Note(const std::function<void()>& fn) {
        std::lock_guard<std::mutex> lock(m_cs);
        fn();
        m_cv.notify_all();
    }
    std::mutex m_cs;
    std::condition_variable m_cv;
};

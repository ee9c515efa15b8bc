// An in-process test server on 127.0.0.1 (any free port), started before each test and
// stopped after it; a test may start it again with settings of its own.
#pragma once

#include "server/assets.h"
#include "server/test_server.h"
#include "support/socket.h"
#include "testkit/child_process.h"
#include "testkit/raw_socket.h"
#include "testkit/recording_events.h"

#include <gtest/gtest.h>

// Also notes how many sessions were still registered when the run reported its end, and
// forgets the last run's port when the next one starts.
class CServerEvents : public CRecordingEvents {
public:
    const CTestServer* m_pServer = nullptr;
    size_t m_nSessionsAtStop = 999;
    void OnServerStarted() override {
        CRecordingEvents::OnServerListening(0);
        CRecordingEvents::OnServerStarted();
    }
    void OnServerStopped() override {
        m_nSessionsAtStop = m_pServer->ServerSessionCount();
        CRecordingEvents::OnServerStopped();
    }
};

class LoopbackServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitSocketLibrary());
        m_events.m_pServer = &m_server;
        auto pTexts = std::make_shared<CPageTexts>();
        LoadPageTexts(*pTexts);
        m_pTexts = pTexts;
        ASSERT_TRUE(Listen(Settings(0)));
    }
    void TearDown() override { Stop(); }

    // Stops the run, if any, and waits for its end.
    void Stop() {
        m_server.StopServer();
        m_server.WaitForRunEnd();
    }
    // Ends the current run and starts one with settings; true once it listens, on m_nPort.
    bool Listen(const CServerSettings& settings) {
        Stop();
        const int nStarted = m_events.Get(m_events.m_nServerStarted);
        return m_server.StartServer(settings) && m_events.WaitFor([&] {
            m_nPort = m_events.m_nListenPort;
            return m_events.m_nServerStarted > nStarted && m_nPort != 0;
        });
    }
    CServerSettings Settings(int nPort) const {
        CServerSettings settings;
        settings.strListenAddr = "127.0.0.1";
        settings.nListenPort = nPort;
        settings.pPageTexts = m_pTexts;
        settings.nIdleTimeoutSeconds = m_nIdleTimeout;
        settings.nMaxSessionsPerHost = 0; // the tests' many peers share one address
        return settings;
    }
    // Waits (bounded) until exactly n sessions are registered.
    bool WaitSessions(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return WaitUntil([&] { return m_server.ServerSessionCount() == n; }, timeout, 1);
    }

    CServerEvents m_events;
    CKestrunEngine m_engine{&m_events};
    CTestServer m_server{m_engine};
    std::shared_ptr<const CPageTexts> m_pTexts;
    int m_nPort = 0;
    int m_nIdleTimeout = 60; // set by a derived fixture's constructor
};

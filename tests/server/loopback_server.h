// An in-process test server on 127.0.0.1 (any free port) and raw client sockets for it.
#pragma once

#include "server/assets.h"
#include "server/test_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class CListeningProbe : public CEngineEvents {
public:
    void OnServerListening(int nPort) override {
        std::lock_guard<std::mutex> lock(m_cs);
        m_nPort = nPort;
        m_cv.notify_all();
    }
    void OnServerError(const std::string&) override {
        std::lock_guard<std::mutex> lock(m_cs);
        m_nPort = -1;
        m_cv.notify_all();
    }
    // The port once the server listens (-1 when it could not, 0 on time-out).
    int WaitPort() {
        std::unique_lock<std::mutex> lock(m_cs);
        m_cv.wait_for(lock, std::chrono::seconds(30), [this] { return m_nPort != 0; });
        return m_nPort;
    }

private:
    std::mutex m_cs;
    std::condition_variable m_cv;
    int m_nPort = 0;
};

class LoopbackServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitSocketLibrary());
        CServerSettings settings;
        settings.strListenAddr = "127.0.0.1";
        settings.nListenPort = 0;
        auto pTexts = std::make_shared<CPageTexts>();
        LoadPageTexts(pTexts->strPageHtml, pTexts->strButtonsCss, pTexts->strEchartsJs);
        settings.pPageTexts = m_pTexts = pTexts;
        ASSERT_TRUE(m_server.StartServer(settings));
        m_nPort = m_probe.WaitPort();
        ASSERT_GT(m_nPort, 0);
    }
    void TearDown() override {
        m_server.StopServer();
        while (m_server.IsServerRunActive())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    SOCKET Connect() {
        SOCKET s = OpenTcpSocket();
        EXPECT_NE(s, INVALID_SOCKET);
        EXPECT_TRUE(ConnectIPv4(s, "127.0.0.1", m_nPort));
        return s;
    }

    // Receives up to nLen bytes, waiting at most 20 s for them; fewer when the peer
    // closes. bClosed tells whether the peer's close was seen.
    static std::string RecvUpTo(SOCKET s, size_t nLen, bool* pbClosed = nullptr) {
        std::string strOut;
        char buf[65536];
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool bClosed = false;
        while (strOut.size() < nLen && std::chrono::steady_clock::now() < tEnd) {
            if (PollReadableNow(s) == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            size_t nWant = std::min(sizeof(buf), nLen - strOut.size());
            int n = RecvOnce(s, buf, nWant);
            if (n <= 0) {
                bClosed = true;
                break;
            }
            strOut.append(buf, static_cast<size_t>(n));
        }
        if (pbClosed != nullptr)
            *pbClosed = bClosed;
        return strOut;
    }

    // Everything until the peer closes (at most 20 s and 64 MiB).
    static std::string RecvUntilClose(SOCKET s, bool* pbClosed = nullptr) {
        return RecvUpTo(s, 64u << 20, pbClosed);
    }

    static void SendText(SOCKET s, const std::string& strText) {
        ASSERT_TRUE(SendAll(s, strText.data(), strText.size()));
    }

    // Waits (bounded) until no session is registered.
    bool WaitRegistryEmpty() {
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (m_server.ServerSessionCount() != 0) {
            if (std::chrono::steady_clock::now() > tEnd)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    CListeningProbe m_probe;
    CKestrunEngine m_engine{&m_probe};
    CTestServer m_server{m_engine};
    std::shared_ptr<const CPageTexts> m_pTexts;
    int m_nPort = 0;
};

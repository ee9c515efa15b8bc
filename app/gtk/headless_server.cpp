// The headless fallback of the Linux program: the same engine as the window, serving on
// every IPv4 interface, with the meter's figures on standard output.
#include "app/gtk/headless_server.h"

#include "server/assets.h"
#include "server/engine.h"

#include <csignal>
#include <cstdio>
#include <mutex>
#include <pthread.h>
#include <unistd.h>
#include <string>

namespace {

class CHeadlessEvents : public CEngineEvents {
public:
    void OnServerListening(int nPort) override {
        std::printf("Tachyra server listening on port %d\n", nPort);
        std::fflush(stdout);
    }
    void OnServerError(const std::string& strErrorText) override {
        std::fprintf(stderr, "tachyra: cannot open the listening port: %s\n", strErrorText.c_str());
        std::lock_guard<std::mutex> lock(m_cs);
        m_bFailed = true;
    }
    void OnServerStopped() override {
        // Whatever ended the run, the process waiting in sigwait is woken to end too.
        kill(getpid(), SIGTERM);
    }
    void OnMeterSample(uint64_t, uint64_t, const std::string& strRecvText,
                       const std::string& strSendText) override {
        std::printf("receive %s  send %s\n", strRecvText.c_str(), strSendText.c_str());
        std::fflush(stdout);
    }
    bool Failed() {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_bFailed;
    }

private:
    std::mutex m_cs;
    bool m_bFailed = false;
};

} // namespace

int RunHeadlessServer(int nPort) {
    // Block the stop signals before any thread exists, so that only sigwait takes them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (!InitSocketLibrary()) {
        std::perror("tachyra: sockets");
        return 1;
    }

    CHeadlessEvents events;
    CKestrunEngine engine(&events);
    engine.m_nListenPort = nPort;
    LoadPageTexts(engine.m_strPageHtml, engine.m_strButtonsCss, engine.m_strEchartsJs);
    engine.StartMeter();
    if (!engine.StartServer()) {
        std::fprintf(stderr, "tachyra: cannot start the server thread\n");
        return 1;
    }
    int nSignal = 0;
    sigwait(&set, &nSignal);
    engine.StopServer();
    engine.StopMeter();
    engine.WaitForWorkers();
    return events.Failed() ? 1 : 0;
}

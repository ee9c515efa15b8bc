// The server's side of UDP tests: the run's UDP sockets on lane 0 (one per listening
// socket, same address and port), their receive loops and the pacer that sends the
// downloads, the table of live tests by id, and the control session that drives one test
// from its TCP connection. The wire formats are in engine/udp_wire.h.
#pragma once

#include "engine/engine.h"
#include "engine/udp_stats.h"
#include "server/session.h"
#include "support/byte_stream.h"

#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>

#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

struct CUdpFlow;

class CUdpPort {
public:
    CUdpPort(CKestrunEngine& engine, asio::io_context& lane0);
    ~CUdpPort();
    CUdpPort(const CUdpPort&) = delete;
    CUdpPort& operator=(const CUdpPort&) = delete;

    // Lane 0: a UDP socket beside each listening socket (its family, address, port and
    // dual-stack setting). Returns the first error; the sockets that opened stay.
    asio::error_code Open(const std::vector<asio::ip::tcp::acceptor>& acceptors);
    bool IsOpen() const { return !m_vecSockets.empty(); }
    // Lane 0: starts the receive loops and the pacer; fnEnded runs once when all of them
    // have ended (after Close).
    void Start(std::function<void()> fnEnded);
    // Lane 0: closes every socket, once; the loops end.
    void Close();

    // Any thread: a new test for a control connection from peer; its id is random and
    // unique among the live ones.
    std::shared_ptr<CUdpFlow> Register(bool bServerSends, uint64_t nRateBps, uint32_t nDatagramSize,
                                       const asio::ip::address& peer);
    // Any thread: the test's datagrams are dropped from now on, and it sends no more.
    void Unregister(const std::shared_ptr<CUdpFlow>& pFlow);
    // Any thread: the server side's figures (receiver figures, or the sent count).
    static CUdpFigures Figures(const CUdpFlow& flow);
    static uint64_t Bytes(const CUdpFlow& flow);
    static uint64_t TestId(const CUdpFlow& flow);

private:
    asio::awaitable<void> ReceiveLoop(size_t nSocket);
    asio::awaitable<void> PaceLoop();
    void LoopEnded();
    std::shared_ptr<CUdpFlow> Find(uint64_t nId);

    CKestrunEngine& m_engine;
    asio::io_context& m_lane0;
    std::vector<asio::ip::udp::socket> m_vecSockets; // lane 0 only
    asio::steady_timer m_pacer;                      // lane 0 only
    bool m_bClosed = false;                          // lane 0 only
    int m_nLoops = 0;                                // lane 0 only
    std::function<void()> m_fnEnded;
    std::mutex m_cs; // the table and the id source
    std::unordered_map<uint64_t, std::shared_ptr<CUdpFlow>> m_mapFlows;
    std::mt19937_64 m_random;
};

// Mode 2 of the raw protocol, after "EST" and the mode byte: reads the request, answers
// it, runs the test until the client stops it or the connection ends, and fills figures.
// Returns the payload bytes the test moved. With a context, an accepted test joins the
// run's tests as kind "udp", and its payload counts on the stream's tally when it ends.
asio::awaitable<uint64_t> ServeUdpTest(CByteStream& stream, const CUdpServerLink* pLink,
                                       CUdpFigures& figures, CSessionContext* pContext = nullptr);

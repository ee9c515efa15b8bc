// One server connection's protocol, on its byte stream: the first token decides between
// the raw test stream, a browser request (HTTP, WebSocket or a measuring route) and a
// drained upload.
#pragma once

#include "engine/engine.h"
#include "engine/udp_stats.h"
#include "engine/settings.h"
#include "server/session_context.h"
#include "support/byte_stream.h"

#include <asio/ip/address.hpp>

#include <cstdint>

// What a session turned out to be and how many bytes it counted.
struct CSessionOutcome {
    const char* pszMode = "none"; // as in CSessionRecord
    uint64_t nBytes = 0;
    // A page answer was sent: the connection ends in order, reading what still comes.
    bool bLinger = false;
    // A UDP test (mode "udp"): its figures.
    bool bUdp = false;
    CUdpFigures udp;
};

class CUdpPort;
// What a UDP test's control session needs of its run: the run's UDP sockets (null when
// it has none) and the control connection's peer address.
struct CUdpServerLink {
    CUdpPort* pPort = nullptr;
    asio::ip::address peer;
};

// The session from its first byte to its end. The head clock runs until the first token
// (and a browser's first request) is whole.
// pUdp null: a UDP test is refused as the server had no UDP socket.
asio::awaitable<CSessionOutcome> ServeConnection(CKestrunEngine& engine, CByteStream& stream,
                                                 const CPageTexts& texts,
                                                 const CUdpServerLink* pUdp = nullptr,
                                                 CSessionContext* pContext = nullptr);

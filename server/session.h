// One server connection's protocol, on its byte stream: the first token decides between
// the raw test stream, a browser request (HTTP, WebSocket or a measuring route) and a
// drained upload.
#pragma once

#include "engine/engine.h"
#include "engine/settings.h"
#include "server/session_context.h"
#include "support/byte_stream.h"

#include <cstdint>

// What a session turned out to be and how many bytes it counted.
struct CSessionOutcome {
    const char* pszMode = "none"; // as in CSessionRecord
    uint64_t nBytes = 0;
    // A page answer was sent: the connection ends in order, reading what still comes.
    bool bLinger = false;
};

// The session from its first byte to its end. The head clock runs until the first token
// (and a browser's first request) is whole.
asio::awaitable<CSessionOutcome> ServeConnection(CKestrunEngine& engine, CByteStream& stream,
                                                 const CPageTexts& texts,
                                                 CSessionContext* pContext = nullptr);

// The browser side of a connection: HTTP requests, answered or upgraded.
#pragma once

#include "engine/engine.h"
#include "engine/settings.h"
#include "server/session_context.h"
#include "support/byte_stream.h"

#include <string>

// How a browser connection's requests ended.
enum class EHttpEnd {
    kClose,     // refused, cut, or a path that gets no answer: close now
    kAnswered,  // a page answer that says Connection: close was sent whole
    kWebSocket, // upgraded (handshake sent): the caller streams frames
};

// Reads the rest of a request whose first bytes were strToken ("GET" in any case, or
// "POST ") and answers it, and the requests that follow it while the measuring routes keep
// the connection open.
asio::awaitable<EHttpEnd> ServeHttpConnection(CKestrunEngine& engine, CByteStream& stream,
                                              std::string strToken, const CPageTexts& texts,
                                              CSessionContext* pContext = nullptr);

// The browser side of a connection: HTTP requests, answered or upgraded.
#pragma once

#include "engine/engine.h"
#include "engine/settings.h"
#include "support/byte_stream.h"

#include <string>

// Reads the rest of a request whose first bytes were strToken ("GET" in any case, or
// "POST ") and answers it, and the requests that follow it while the measuring routes keep
// the connection open. Returns true when a request was upgraded to a WebSocket (handshake
// sent), so the caller streams frames; false when the connection is to be closed now.
bool ServeHttpConnection(CKestrunEngine& engine, CByteStream& stream, const std::string& strToken,
                         const CPageTexts& texts);

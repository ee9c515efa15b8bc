// The browser side of a connection: one HTTP request, answered or upgraded.
#pragma once

#include "engine/settings.h"
#include "support/byte_stream.h"

#include <string>

// Reads the rest of a request whose first bytes were strToken and answers it. Returns
// true when the request was upgraded to a WebSocket (handshake sent), so the caller
// streams frames; false when the connection is to be closed now.
bool ServeHttpConnection(CByteStream& stream, const std::string& strToken, const CPageTexts& texts);

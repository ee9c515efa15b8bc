// The browser side of a connection: one HTTP request, answered or upgraded.
#pragma once

#include "support/socket.h"

#include <string>

// The three served texts a request may be answered with (read-only).
struct CPageTexts {
    const std::string& strPageHtml;
    const std::string& strButtonsCss;
    const std::string& strEchartsJs;
};

// Reads the rest of a request whose first bytes were strToken and answers it. Returns
// true when the request was upgraded to a WebSocket (handshake sent), so the caller
// streams frames; false when the connection is to be closed now.
bool ServeHttpConnection(SOCKET s, const std::string& strToken, const CPageTexts& texts);

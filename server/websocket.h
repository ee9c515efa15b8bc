// WebSocket frames the server streams to the speed page.
#pragma once

#include "support/socket.h"

extern const char* const g_szFramePayload;
extern const int g_nFramePayloadLen;

// Sends one unmasked text frame carrying the first nPayloadLen bytes of g_szFramePayload.
bool SendWebSocketFrame(int nPayloadLen, SOCKET s);

// Placeholder until the WebSocket stream lands: no connection is ever upgraded, so no
// frame is sent.
#include "server/websocket.h"

const char* const g_szFramePayload = "";
const int g_nFramePayloadLen = 65127;

bool SendWebSocketFrame(int, SOCKET) {
    return false;
}

// The WebSocket side of the speed page: the upgrade test, the 101 handshake and the
// unmasked text frames the server streams.
#pragma once

#include "server/mzbyte.h"
#include "support/byte_stream.h"

#include <cstdint>
#include <string>

// The frame payload: g_nFramePayloadLen (65127) ASCII digits and lower-case letters.
extern const char* const g_szFramePayload;
extern const int g_nFramePayloadLen;

// The GUID RFC 6455 appends to the client's key.
extern const char* const kWebSocketGuid;

// Upgrade is "websocket" (any case), Sec-WebSocket-Key and Connection are not empty.
bool IsWebSocketUpgrade(const std::string& strRequest);

// Base64 of the SHA-1 of the key followed by the GUID: 28 characters.
std::string MakeWebSocketAccept(const std::string& strKey);

// The complete 101 answer (129 bytes) for an upgrade request; empty when it is not one.
std::string BuildWebSocketHandshake(const std::string& strRequest);

// Sends the 101 answer in full. False when the request is not an upgrade (nothing sent)
// or the socket fails.
asio::awaitable<bool> SendWebSocketHandshake(const std::string& strRequest, CByteStream& stream);

// Builds the server frame header for nPayloadLen into header: FIN, text opcode, no mask,
// and the 7-bit, 16-bit or 64-bit length form. Returns false when memory runs out.
bool BuildWebSocketFrameHeader(uint32_t nPayloadLen, MzByte& header);

// Sends one unmasked text frame carrying the first nPayloadLen bytes of g_szFramePayload,
// header and payload each in full. A length outside 0..g_nFramePayloadLen sends nothing
// and fails.
asio::awaitable<bool> SendWebSocketFrame(int nPayloadLen, CByteStream& stream);

// Frames a browser sends: opcode 8 closes.
const int kWebSocketOpClose = 8;

// Reads one frame header the browser sent and, for a control frame (at most 125 bytes),
// its unmasked payload into strPayload. Returns the opcode, or -1 when the stream ends or
// fails before the header and payload are whole. A data frame's payload is left unread.
asio::awaitable<int> RecvClientFrame(CByteStream& stream, std::string& strPayload);

// The server's close frame answering a browser's close: the same status code, or none
// when the browser gave none.
std::string BuildWebSocketCloseReply(const std::string& strClosePayload);

// The browser sent something while the stream runs: a close is answered with a close
// (the same status code); any other frame ends the stream after what has arrived is read.
// Either way nothing is left unread, so the connection's close sends no reset.
asio::awaitable<void> EndWebSocketStream(CByteStream& stream);

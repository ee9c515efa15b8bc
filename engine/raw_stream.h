// Both ends of the raw protocol's stream, for the server's sessions and the client test:
// the sender walks the shared pattern, the receiver counts and drops.
#pragma once

#include "engine/engine.h"
#include "support/byte_stream.h"

#include <cstdint>

class CRatePacer;

// Senders hand the socket this much of the pattern per call (whole protocol blocks)
// where it takes them.
const size_t kRawSendBytes = 32 * CKestrunEngine::kBlockSize;

// Sends the shared read-only pattern from start to end and round again until the stream
// fails, each byte counted as sent. Returns the bytes counted. With a pacer, it sends in
// the pacer's steps and at its rate.
asio::awaitable<uint64_t> SendPatternStream(CKestrunEngine& engine, CByteStream& stream,
                                            CRatePacer* pPacer = nullptr);
// Receives into the thread's scratch until the peer closes or the stream fails, each byte
// counted as received. Returns the bytes counted. With a pacer, it takes no more than the
// pacer's rate, and the peer's sending slows to it as the connection's window fills.
asio::awaitable<uint64_t> ReceiveCountedStream(CKestrunEngine& engine, CByteStream& stream,
                                               CRatePacer* pPacer = nullptr);

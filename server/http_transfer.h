// The measuring routes beside the pages: /download, /upload and /ping. Unlike the page
// requests, these connections stay open between requests, so that a browser's repeated
// fetches reuse them and a ping measures the round trip rather than a new connection.
#pragma once

#include "engine/engine.h"
#include "server/session_context.h"
#include "support/byte_stream.h"

#include <cstdint>
#include <string>

// A /download without a size gets this many bytes.
const uint64_t kDefaultDownloadBytes = 100ull << 20;
// The most one /download sends or one /upload may announce.
const uint64_t kMaxTransferBytes = 1ull << 30;

// Request heads off a connection that carries one request after another. The bytes that
// follow a head (the start of its body, or the next request) stay pending for the body's
// reader and the next head.
class CHttpHeadReader {
public:
    // A head not complete after this many bytes is refused.
    static const size_t kMaxHeadBytes = 65536;

    // Reads one head (up to and including its blank line) into strHead; strStart is what
    // was received of it before. False when the peer closed, a receive failed or the
    // limit was reached first.
    // The head clock runs from the head's first byte.
    asio::awaitable<bool> ReadHead(CByteStream& stream, const std::string& strStart,
                                   std::string& strHead);
    // Cuts what follows the head's blank line off strRequest (a request read by other
    // means) and keeps it pending, before what is pending already.
    void KeepAfterHead(std::string& strRequest);
    // Moves up to nLen pending bytes out; the count moved.
    size_t TakePending(size_t nLen);
    // Moves up to nLen pending bytes into strOut (appended).
    void TakePendingInto(std::string& strOut, size_t nLen);

private:
    std::string m_strPending;
};

// Receives the two bytes that follow a "POS" token into strRead (fewer when the peer
// closed or a receive failed). True when they make the token the start of "POST ".
asio::awaitable<bool> RecvPostRest(CByteStream& stream, std::string& strRead);

// How a request went.
enum class ETransferOutcome {
    kNotMine,   // a GET for another path: the page table answers it
    kKeepAlive, // answered; the next request may follow on the connection
    kClose,     // answered, refused or cut: the connection ends
};

// Answers strRequest (head only; a body is read through reader) when it is one of the
// measuring routes or any POST. Body bytes are counted as received, download bytes as
// sent, each once, as they move.
asio::awaitable<ETransferOutcome> ServeTransferRequest(CKestrunEngine& engine, CByteStream& stream,
                                                       const std::string& strRequest,
                                                       CHttpHeadReader& reader,
                                                       CSessionContext* pContext = nullptr);

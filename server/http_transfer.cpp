// The measuring routes: heads read off a kept-alive connection, the download streamed from
// the shared send pattern, the upload received and dropped, and the short refusals.
#include "server/http_transfer.h"

#include "engine/send_pattern.h"
#include "server/http.h"
#include "support/ascii.h"

#include <algorithm>
#include <memory>

namespace {

enum class ERoute { kOther, kDownload, kUpload, kPing };

// A measuring request as part of the peer's full test, from its head to its end.
class CFullRequest {
public:
    CFullRequest(CSessionContext* pContext, const char* pszDirection, CByteStream& stream)
        : m_pContext(pContext) {
        if (m_pContext != nullptr)
            m_pContext->Join(kKindFull, pszDirection, stream.Tally());
    }
    ~CFullRequest() {
        if (m_pContext != nullptr)
            m_pContext->RequestDone();
    }
    CFullRequest(const CFullRequest&) = delete;
    CFullRequest& operator=(const CFullRequest&) = delete;

private:
    CSessionContext* m_pContext;
};

// The path's route: the part before any query, compared ignoring ASCII case.
ERoute FindRoute(const std::string& strPath) {
    const std::string strName = strPath.substr(0, strPath.find('?'));
    if (EqualsNoCaseAscii(strName, "download"))
        return ERoute::kDownload;
    if (EqualsNoCaseAscii(strName, "upload"))
        return ERoute::kUpload;
    if (EqualsNoCaseAscii(strName, "ping"))
        return ERoute::kPing;
    return ERoute::kOther;
}

// A byte count as the routes accept it: decimal digits only, at most nMax. Gives 200
// (nValue set), 400 for anything that is not a count, 413 for one over nMax.
int ParseByteCount(const std::string& strText, uint64_t nMax, uint64_t& nValue) {
    if (strText.empty() || strText.find_first_not_of("0123456789") != std::string::npos)
        return 400;
    long long n = 0;
    if (!ParseDecimal(strText, 0, static_cast<long long>(nMax), n))
        return 413;
    nValue = static_cast<uint64_t>(n);
    return 200;
}

// The size a /download asks for: the value of its first "size" query parameter, or the
// default without one.
int ParseDownloadSize(const std::string& strPath, uint64_t& nSize) {
    const size_t nQuery = strPath.find('?');
    size_t nPos = nQuery == std::string::npos ? strPath.size() : nQuery + 1;
    while (nPos < strPath.size()) {
        size_t nEnd = std::min(strPath.find('&', nPos), strPath.size());
        const std::string strParam = strPath.substr(nPos, nEnd - nPos);
        if (strParam.compare(0, 5, "size=") == 0)
            return ParseByteCount(strParam.substr(5), kMaxTransferBytes, nSize);
        nPos = nEnd + 1;
    }
    nSize = kDefaultDownloadBytes;
    return 200;
}

std::string BuildHead(int nStatus, const char* pszContentType, uint64_t nLength, bool bKeepAlive) {
    std::string strHead = nStatus == 200   ? "HTTP/1.1 200 OK\r\n"
                          : nStatus == 400 ? "HTTP/1.1 400 Bad Request\r\n"
                                           : "HTTP/1.1 413 Content Too Large\r\n";
    if (pszContentType != nullptr)
        strHead += std::string("Content-Type: ") + pszContentType + "\r\n";
    strHead += "Content-Length: " + std::to_string(nLength) + "\r\nCache-Control: no-store\r\n";
    strHead += bKeepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    return strHead;
}

// A small plain-text answer; refusals always close, so that nothing of a refused body
// is taken for the next request.
asio::awaitable<ETransferOutcome> SendText(CByteStream& stream, int nStatus, std::string strText,
                                           bool bKeepAlive) {
    const bool bKeep = bKeepAlive && nStatus == 200;
    const std::string strAnswer =
        BuildHead(nStatus, "text/plain; charset=utf-8", strText.size(), bKeep) + strText;
    if (!co_await SendAll(stream, strAnswer.data(), strAnswer.size()) || !bKeep)
        co_return ETransferOutcome::kClose;
    co_return ETransferOutcome::kKeepAlive;
}

asio::awaitable<ETransferOutcome> ServeDownload(CKestrunEngine& engine, CByteStream& stream,
                                                std::string strPath, bool bKeepAlive) {
    uint64_t nSize = 0;
    const int nStatus = ParseDownloadSize(strPath, nSize);
    if (nStatus == 400)
        co_return co_await SendText(stream, 400, "size must be a whole number of bytes\n", false);
    if (nStatus == 413)
        co_return co_await SendText(
            stream, 413, "size may be at most " + std::to_string(kMaxTransferBytes) + " bytes\n",
            false);
    const std::string strHead = BuildHead(200, "application/octet-stream", nSize, bKeepAlive);
    if (!co_await SendAll(stream, strHead.data(), strHead.size()))
        co_return ETransferOutcome::kClose;
    // Whole pattern blocks where possible: one call hands the system a megabyte.
    const char* pPattern = SendPattern();
    size_t nOffset = 0;
    while (nSize > 0) {
        const size_t nChunk =
            static_cast<size_t>(std::min<uint64_t>(nSize, kSendPatternSize - nOffset));
        const int n = co_await stream.Send(pPattern + nOffset, nChunk);
        if (n < 1)
            co_return ETransferOutcome::kClose;
        engine.AddSendBytes(static_cast<uint64_t>(n));
        stream.CountSent(static_cast<uint64_t>(n));
        nSize -= static_cast<uint64_t>(n);
        nOffset = (nOffset + static_cast<size_t>(n)) % kSendPatternSize;
    }
    co_return bKeepAlive ? ETransferOutcome::kKeepAlive : ETransferOutcome::kClose;
}

asio::awaitable<ETransferOutcome> ServeUpload(CKestrunEngine& engine, CByteStream& stream,
                                              const std::string& strRequest,
                                              CHttpHeadReader& reader, bool bKeepAlive) {
    const std::string strLength = GetHeaderValue(strRequest, "Content-Length");
    uint64_t nLength = 0;
    const int nStatus = ParseByteCount(strLength, kMaxTransferBytes, nLength);
    if (strLength.empty())
        co_return co_await SendText(stream, 400, "an upload needs a Content-Length\n", false);
    if (nStatus == 400)
        co_return co_await SendText(stream, 400, "Content-Length must be a whole number of bytes\n",
                                    false);
    if (nStatus == 413)
        co_return co_await SendText(
            stream, 413,
            "an upload may have at most " + std::to_string(kMaxTransferBytes) + " bytes\n", false);
    uint64_t nLeft = nLength;
    size_t nTaken = reader.TakePending(static_cast<size_t>(nLeft));
    engine.AddRecvBytes(nTaken);
    stream.CountRecv(nTaken);
    nLeft -= nTaken;
    while (nLeft > 0) {
        // Never past the body: the next request may already be on its way.
        const int n = co_await stream.Recv(
            ScratchBuffer(), static_cast<size_t>(std::min<uint64_t>(nLeft, kScratchSize)));
        if (n < 1)
            co_return ETransferOutcome::kClose; // the peer is gone; what came is counted
        engine.AddRecvBytes(static_cast<uint64_t>(n));
        stream.CountRecv(static_cast<uint64_t>(n));
        nLeft -= static_cast<uint64_t>(n);
    }
    co_return co_await SendText(stream, 200, std::to_string(nLength) + "\n", bKeepAlive);
}

} // namespace

asio::awaitable<bool> CHttpHeadReader::ReadHead(CByteStream& stream, const std::string& strStart,
                                                std::string& strHead) {
    m_strPending.insert(0, strStart);
    if (!m_strPending.empty())
        stream.StartHeadClock();
    size_t nSearched = 0;
    for (;;) {
        const size_t nBlank = m_strPending.find("\r\n\r\n", nSearched);
        if (nBlank != std::string::npos && nBlank + 4 <= kMaxHeadBytes) {
            strHead = m_strPending.substr(0, nBlank + 4);
            m_strPending.erase(0, nBlank + 4);
            m_strPending.shrink_to_fit(); // a long stream may follow: it keeps no buffer
            stream.StopHeadClock();
            co_return true;
        }
        if (m_strPending.size() >= kMaxHeadBytes)
            co_return false;
        nSearched = m_strPending.size() < 3 ? 0 : m_strPending.size() - 3;
        char szBuf[4096];
        const int n = co_await stream.Recv(szBuf, sizeof(szBuf));
        if (n < 1)
            co_return false;
        const bool bFirst = m_strPending.empty();
        m_strPending.append(szBuf, static_cast<size_t>(n));
        if (bFirst)
            stream.StartHeadClock();
    }
}

void CHttpHeadReader::KeepAfterHead(std::string& strRequest) {
    const size_t nBlank = strRequest.find("\r\n\r\n");
    if (nBlank == std::string::npos)
        return;
    m_strPending.insert(0, strRequest, nBlank + 4, std::string::npos);
    strRequest.erase(nBlank + 4);
}

size_t CHttpHeadReader::TakePending(size_t nLen) {
    const size_t nTake = std::min(nLen, m_strPending.size());
    m_strPending.erase(0, nTake);
    return nTake;
}

void CHttpHeadReader::TakePendingInto(std::string& strOut, size_t nLen) {
    const size_t nTake = std::min(nLen, m_strPending.size());
    strOut.append(m_strPending, 0, nTake);
    m_strPending.erase(0, nTake);
}

asio::awaitable<bool> RecvPostRest(CByteStream& stream, std::string& strRead) {
    strRead.clear();
    char szBuf[2];
    while (strRead.size() < sizeof(szBuf)) {
        const int n = co_await stream.Recv(szBuf, sizeof(szBuf) - strRead.size());
        if (n < 1)
            break;
        strRead.append(szBuf, static_cast<size_t>(n));
    }
    co_return strRead.size() == 2 && ToLowerAscii(strRead[0]) == 't' && strRead[1] == ' ';
}

asio::awaitable<ETransferOutcome> ServeTransferRequest(CKestrunEngine& engine, CByteStream& stream,
                                                       const std::string& strRequest,
                                                       CHttpHeadReader& reader,
                                                       CSessionContext* pContext) {
    const bool bPost = StartsWithNoCaseAscii(strRequest, "POST ");
    if (!bPost && !StartsWithNoCaseAscii(strRequest, "GET "))
        co_return ETransferOutcome::kClose; // no other method is served
    const std::string strPath = GetHeaderValue(strRequest, "path");
    const ERoute route = FindRoute(strPath);
    const bool bKeepAlive = !EqualsNoCaseAscii(GetHeaderValue(strRequest, "Connection"), "close");
    if (bPost) {
        // An upload anywhere else gets no answer, as an unknown page path does.
        if (route != ERoute::kUpload)
            co_return ETransferOutcome::kClose;
        CFullRequest request(pContext, "upload", stream);
        co_return co_await ServeUpload(engine, stream, strRequest, reader, bKeepAlive);
    }
    switch (route) {
    case ERoute::kDownload: {
        CFullRequest request(pContext, "download", stream);
        co_return co_await ServeDownload(engine, stream, strPath, bKeepAlive);
    }
    case ERoute::kPing: {
        CFullRequest request(pContext, "", stream);
        co_return co_await SendText(stream, 200, "", bKeepAlive);
    }
    case ERoute::kUpload:
    case ERoute::kOther:
        break;
    }
    co_return ETransferOutcome::kNotMine;
}
